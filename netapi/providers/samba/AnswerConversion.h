// What the Samba provider makes of the answers it gets: a workstation-service
// entry turned into the provider's own data (a directory's computer object
// goes through the shared directory rules). Pure functions, apart from the
// network, so that they can be tried with any answer.
#pragma once

#include "WkssvcClient.h"

namespace quorvix::samba {

// One entry of a NetrWkstaEnumUsers answer at level 1: its four UTF-8 texts,
// each possibly absent (null). Malformed UTF-8 comes through as U+FFFD.
WkstaUser WkstaUserFromAnswer(const char* user, const char* logonDomain, const char* otherDomains,
                              const char* logonServer);

}  // namespace quorvix::samba

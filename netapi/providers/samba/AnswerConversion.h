// What the Samba provider makes of the answers it gets: a workstation-service
// entry turned into the provider's own data (a directory's computer object
// goes through the shared directory rules). Pure functions, apart from the
// network, so that they can be tried with any answer.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "WkssvcClient.h"

namespace quorvix::samba {

// One entry of a NetrWkstaEnumUsers answer at level 1: its four UTF-8 texts,
// each possibly absent (null). Malformed UTF-8 comes through as U+FFFD.
WkstaUser WkstaUserFromAnswer(const char* user, const char* logonDomain, const char* otherDomains,
                              const char* logonServer);

// The NetBIOS name of the domain a controller names in its answer to an LDAP
// ping (the root entry's "netlogon" value, asked for with NtVer 6): a
// NETLOGON_SAM_LOGON_RESPONSE_EX, whose names are compressed as in DNS
// messages. The name as the answer gives it (UTF-8); nullopt for an answer
// of another kind, or one that is cut short, points outside itself or in
// circles.
std::optional<std::string> NetbiosDomainFromPing(const unsigned char* data, std::size_t size);

}  // namespace quorvix::samba

// What the Samba provider makes of the answers it gets: a workstation-service
// entry and a directory's computer object, turned into the provider's own
// data. Pure functions, apart from the network, so that they can be tried
// with any answer.
#pragma once

#include <optional>
#include <string>

#include "AdDirectory.h"
#include "WkssvcClient.h"

namespace quorvix::samba {

// One entry of a NetrWkstaEnumUsers answer at level 1: its four UTF-8 texts,
// each possibly absent (null). Malformed UTF-8 comes through as U+FFFD.
WkstaUser WkstaUserFromAnswer(const char* user, const char* logonDomain, const char* otherDomains,
                              const char* logonServer);

// The attributes of one computer object, as the directory gives them
// (first values; empty when missing).
struct ComputerAttributes {
  std::string samAccountName;
  std::string dnsHostName;
  std::string userAccountControl;  // decimal
  std::string operatingSystem;
  std::string operatingSystemVersion;
  std::string description;
  bool holdsPdcRole = false;  // the object is the one that holds the primary role
};

// The machine the object stands for, or nullopt for an account that is
// disabled (nobody can be logged on there) or has no name.
std::optional<AdComputer> ComputerFromAttributes(const ComputerAttributes& a);

}  // namespace quorvix::samba

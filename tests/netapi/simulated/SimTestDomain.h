// A small domain shared by the simulated provider's tests.
#pragma once

#include <string>

#include "SimDomain.h"

namespace quorvix::sim::test {

// CORP (local, PDC01) with a PDC, a workstation with five entries and a
// workstation that cannot be asked; LAB with one NT server.
inline const char* kSmallDomain = R"json({
  "local": {"computerName": "PC-001", "domain": "CORP"},
  "domains": [{"name": "CORP", "pdc": "PDC01"}, {"name": "LAB", "pdc": "LAB-SRV"}],
  "machines": [
    {"name": "PDC01", "domain": "CORP", "type": "0x0000900B", "comment": "Primary controller",
     "versionMajor": 4, "versionMinor": 0,
     "users": [{"name": "alice", "lastLogon": 1015000000, "groups": ["Domain Users", "Engineering"]},
               {"name": "bob", "lastLogon": 0, "groups": ["Domain Users"]},
               {"name": "Иван", "lastLogon": 4102444800}],
     "globalGroups": [{"name": "Domain Users", "comment": "All domain users", "members": ["alice", "bob"]},
                      {"name": "Engineering", "comment": "Product engineering", "members": ["alice"]},
                      {"name": "Marketing", "comment": "", "members": []}],
     "localGroups": [{"name": "Administrators", "comment": "Full control", "members": ["CORP\\alice"]}]},
    {"name": "PC-001", "domain": "CORP", "type": ["WORKSTATION", "SERVER", "NT"], "versionMinor": 1,
     "sessions": [
       {"user": "alice", "logonDomain": "CORP", "logonServer": "PDC01"},
       {"user": "bob", "logonDomain": "CORP", "otherDomains": "LAB", "logonServer": "\\\\PDC01"},
       {"user": "carol", "logonDomain": "CORP", "logonServer": ""},
       {"user": "dave-with-a-rather-long-name", "logonDomain": "CORP", "logonServer": "PDC01"},
       {"user": "Иван", "logonDomain": "CORP", "logonServer": "PDC01"}],
     "users": [{"name": "Administrator", "lastLogon": 1014000000}],
     "localGroups": [{"name": "Users", "members": []}]},
    {"name": "PC-002", "domain": "CORP", "type": 4099, "sessionsStatus": 53},
    {"name": "LAB-SRV", "domain": "LAB", "type": ["WORKSTATION", "SERVER", "NT", "SERVER_NT"]}
  ]
})json";

inline SimDomain SmallDomain() {
  return ParseDomainJson(kSmallDomain, "small domain");
}

}  // namespace quorvix::sim::test

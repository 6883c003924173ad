// Logged-on users of one machine.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "NetApi.h"

namespace quorvix {

// One logged-on entry of a machine, as the machine reports it.
struct LoggedOnUser {
  std::u16string UserName;
  std::u16string LogonDomain;
  std::u16string OtherDomains;
  std::u16string LogonServer;  // may be empty
};

// Enumeration results throughout the query layer are vectors whose slot 0 is
// unused (left empty) and whose entries fill slots 1..n, so callers loop from
// 1 to size() - 1.

// Asks strServer which users are logged on to it (NetWkstaUserEnum level 1,
// 256-byte batches). On status 0 users holds slot 0 empty and the entries in
// 1..m in the machine's order; when the first call fails users is untouched.
// stopped, when given, is shown the entries that arrived so far and ends the
// listing before a further batch (EnumerateInBatches).
int32_t fnNetWkstaUserEnum(
    NetApi& api, const std::u16string& strServer, std::vector<LoggedOnUser>& users,
    const std::function<bool(const std::vector<LoggedOnUser>&)>& stopped = nullptr);

}  // namespace quorvix

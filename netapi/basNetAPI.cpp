#include "basNetAPI.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "basStringHandler.h"

namespace quorvix {

namespace {

// Small batches: one exchange carries a few entries.
constexpr DWORD kPreferredLength = 256;

// No machine has this many logged-on entries; a server that keeps sending
// more is broken, and the loop must end rather than run on for ever.
constexpr std::size_t kMaxEntries = 1'000'000;

// Room reserved up front from a total the server announced; the vector grows
// past it if more entries arrive, so a lying total costs nothing.
constexpr std::size_t kMaxReserve = 4096;

}  // namespace

int32_t fnNetWkstaUserEnum(NetApi& api, const std::u16string& strServer,
                           std::vector<LoggedOnUser>& users) {
  const LPCWSTR server = NameArgument(strServer);
  DWORD resume = 0;
  std::vector<LoggedOnUser> result;
  bool first = true;

  // The status decides whether another batch follows: 0 ends the loop
  // whatever the counts say, ERROR_MORE_DATA asks for the next batch.
  for (;;) {
    NetBuffer buffer(api);
    DWORD read = 0;
    DWORD total = 0;
    const NET_API_STATUS status =
        api.NetWkstaUserEnum(server, 1, buffer.out(), kPreferredLength, &read, &total, &resume);
    if (status != NERR_Success && status != ERROR_MORE_DATA) {
      // A buffer handed back with the failure is released by its holder.
      if (!first) users = std::move(result);
      return static_cast<int32_t>(status);
    }
    // ERROR_BAD_NET_RESP stands for a server whose answer cannot be used:
    // "more data" without any entry (asking again would bring the same
    // answer for ever), entries without a buffer, or an endless stream.
    const bool noProgress = status == ERROR_MORE_DATA && read == 0;
    const bool noBuffer = read > 0 && !buffer;
    const bool tooMany = read > kMaxEntries || result.size() + read > kMaxEntries;
    if (noProgress || noBuffer || tooMany) {
      if (!first) users = std::move(result);
      return static_cast<int32_t>(ERROR_BAD_NET_RESP);
    }
    if (first) {
      result.reserve(1 + std::min<std::size_t>(total, kMaxReserve));
      result.emplace_back();  // slot 0 stays empty
      first = false;
    }
    for (DWORD k = 0; k < read; ++k) {
      const auto& rec = buffer.record<WKSTA_USER_INFO_1>(k);
      result.push_back(LoggedOnUser{
          fnPointerToString(rec.wkui1_username), fnPointerToString(rec.wkui1_logon_domain),
          fnPointerToString(rec.wkui1_oth_domains), fnPointerToString(rec.wkui1_logon_server)});
    }
    if (status == NERR_Success) break;
  }
  users = std::move(result);
  return 0;
}

}  // namespace quorvix

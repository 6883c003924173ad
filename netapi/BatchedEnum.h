// The loop shared by the enumerations that come in batches with a resume
// handle (logged-on users, a server's global groups).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "NetApi.h"
#include "basStringHandler.h"

namespace quorvix {

// No machine or server has this many entries; one that keeps sending more is
// broken, and the enumeration ends rather than run on for ever.
inline constexpr std::size_t kMaxEnumEntries = 1'000'000;

// Room reserved up front from a total the server announced; the vector grows
// past it if more entries arrive, so a lying total costs nothing.
inline constexpr std::size_t kMaxEnumReserve = 4096;

// Asks batch after batch with call(LPBYTE*, DWORD* read, DWORD* total),
// which passes resume (the resume handle) on to the server, and turns record
// k of each batch into an entry with read(buffer, k). The status decides
// whether another batch follows: 0 ends the loop whatever the counts say,
// ERROR_MORE_DATA asks for the next one. On success out holds slot 0 empty
// and the entries in 1..n in the order they came; when the first call fails
// out is untouched, when a later one fails out keeps what arrived. stopped,
// when given, is asked before each further batch, with what arrived so far
// (slot 0 empty): once it says so, the loop ends with ERROR_MORE_DATA (there
// was more to ask for) and out keeps what arrived.
template <typename Item, typename Resume, typename Call, typename Read>
int32_t EnumerateInBatches(NetApi& api, std::vector<Item>& out, const Resume& resume, Call call,
                           Read read,
                           const std::function<bool(const std::vector<Item>&)>& stopped = nullptr) {
  std::vector<Item> result;
  bool first = true;
  for (;;) {
    NetBuffer buffer(api);
    DWORD count = 0;
    DWORD total = 0;
    const Resume before = resume;
    const NET_API_STATUS status = call(buffer.out(), &count, &total);
    if (status != NERR_Success && status != ERROR_MORE_DATA) {
      // A buffer handed back with the failure is released by its holder.
      if (!first) out = std::move(result);
      return static_cast<int32_t>(status);
    }
    // ERROR_BAD_NET_RESP stands for a server whose answer cannot be used:
    // "more data" without any entry (asking again would bring the same
    // answer for ever), entries without a buffer, or an endless stream.
    const bool noProgress = status == ERROR_MORE_DATA && count == 0;
    const bool noBuffer = count > 0 && !buffer;
    const bool tooMany = count > kMaxEnumEntries || result.size() + count > kMaxEnumEntries;
    if (noProgress || noBuffer || tooMany) {
      if (!first) out = std::move(result);
      return static_cast<int32_t>(ERROR_BAD_NET_RESP);
    }
    if (first) {
      result.reserve(1 + std::min<std::size_t>(total, kMaxEnumReserve));
      result.emplace_back();  // slot 0 stays empty
      first = false;
    }
    for (DWORD k = 0; k < count; ++k) result.push_back(read(buffer, k));
    if (status == NERR_Success) break;
    // "More data" with the resume handle where it was: the next call would
    // bring this batch again, for ever.
    if (resume == before) {
      out = std::move(result);
      return static_cast<int32_t>(ERROR_BAD_NET_RESP);
    }
    if (stopped && stopped(result)) {
      out = std::move(result);
      return static_cast<int32_t>(ERROR_MORE_DATA);
    }
  }
  out = std::move(result);
  return 0;
}

}  // namespace quorvix

// Logged-on users of a machine through the workstation service
// (NetrWkstaEnumUsers over the \pipe\wkssvc named pipe).
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <vector>

#include "AnswerBuffer.h"
#include "NetApi.h"
#include "SambaSession.h"

namespace quorvix::samba {

struct WkstaUser {
  Text user;
  Text logonDomain;
  Text otherDomains;
  Text logonServer;
};

// NERR_Success when the RPC library's call table holds the call with the
// layout this client declares; otherwise ERROR_NOT_SUPPORTED, and the
// client must not make the call.
NET_API_STATUS CheckWkssvcLayout();

// Asks host for every user logged on to it (level 1), within
// creds.hostTimeout: one connection, one call. Needs no lock; machines that
// give no answer are remembered (RecentlySilent).
NET_API_STATUS EnumWkstaUsers(const std::string& host, const SambaCredentials& creds,
                              std::vector<WkstaUser>& users);

// Answers whose later batches a caller has yet to fetch with its resume
// handle, by server and position. A caller may stop before the end (the scan
// gave the machine up), so they are bounded, in answers and in entries all
// together: the oldest goes first.
template <typename Entry>
class PendingAnswers {
 public:
  void Keep(const std::string& host, std::size_t next, std::vector<Entry> entries) {
    std::lock_guard lock(lock_);
    for (auto it = kept_.begin(); it != kept_.end(); ++it)
      if (it->host == host) {
        Erase(it);
        break;
      }
    while (!kept_.empty() &&
           (kept_.size() >= kMaxKept || entries_ + entries.size() > kMaxKeptEntries))
      Erase(kept_.begin());
    entries_ += entries.size();
    kept_.push_back({host, next, std::move(entries)});
  }

  // The answer kept for host at position start, taken out; false if none.
  bool Take(const std::string& host, std::size_t start, std::vector<Entry>& entries) {
    std::lock_guard lock(lock_);
    for (auto it = kept_.begin(); it != kept_.end(); ++it)
      if (it->host == host && it->next == start) {
        entries = std::move(it->entries);
        Erase(it);
        return true;
      }
    return false;
  }

  static constexpr std::size_t kMaxKept = 256;
  static constexpr std::size_t kMaxKeptEntries = 1'000'000;

 private:
  struct Kept {
    std::string host;
    std::size_t next;
    std::vector<Entry> entries;
  };
  void Erase(typename std::list<Kept>::iterator it) {
    entries_ -= it->entries.size();
    kept_.erase(it);
  }
  std::mutex lock_;
  std::list<Kept> kept_;
  std::size_t entries_ = 0;  // in all the answers kept
};

// One batch of an enumeration: entries [begin, end) of the whole answer.
struct Batch {
  std::size_t begin = 0;
  std::size_t end = 0;
  bool more = false;  // entries follow after end
};

// The batch of count entries that starts at start and fits prefmaxlen,
// counting entry i's bytes as bytesOf(i), as a server does; at least one
// entry when any remain, so that a caller always gets on.
// MAX_PREFERRED_LENGTH takes everything. Only the batch's entries and the one
// after it are sized: going through a long answer batch by batch costs the
// answer once, not once per batch.
template <typename BytesOf>
Batch SliceBatch(std::size_t count, std::size_t start, DWORD prefmaxlen, BytesOf bytesOf) {
  Batch b;
  b.begin = start > count ? count : start;
  b.end = b.begin;
  if (prefmaxlen == MAX_PREFERRED_LENGTH) {
    b.end = count;
    return b;
  }
  std::size_t used = 0;
  while (b.end < count) {
    const std::size_t next = used + bytesOf(b.end);
    if (b.end > b.begin && next > prefmaxlen) break;
    used = next;
    ++b.end;
  }
  b.more = b.end < count;
  return b;
}

inline Batch SliceBatch(const std::vector<std::size_t>& entryBytes, std::size_t start,
                        DWORD prefmaxlen) {
  return SliceBatch(entryBytes.size(), start, prefmaxlen,
                    [&](std::size_t i) { return entryBytes[i]; });
}

}  // namespace quorvix::samba

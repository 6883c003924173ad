// Buffers the Samba provider hands to its callers: one allocation per answer
// holding the records followed by their UTF-16 strings. The provider tracks
// every buffer it handed out, so that NetApiBufferFree releases exactly those,
// once.
#pragma once

#include <array>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "NetApi.h"

namespace quorvix::samba {

class BufferRegistry {
 public:
  BufferRegistry() = default;
  BufferRegistry(const BufferRegistry&) = delete;
  BufferRegistry& operator=(const BufferRegistry&) = delete;
  ~BufferRegistry();

  // Zero-filled, aligned for any record; null when memory is short.
  void* Allocate(std::size_t bytes);
  // NERR_Success for a buffer of this registry (released now); 87 for any
  // other address, including one already released. A null address is
  // accepted and ignored, as the platform does.
  NET_API_STATUS Release(void* p);
  std::size_t Outstanding() const;

 private:
  mutable std::mutex mutex_;
  std::unordered_set<void*> live_;
};

// A text field of a record being built: absent (null pointer) or a text.
using Text = std::optional<std::u16string>;

// Lays out n records of type Record followed by their strings in one buffer
// of the registry. fields names the record's text members; texts holds, per
// record, one Text for each of those members in the same order.
template <typename Record, std::size_t N>
NET_API_STATUS PackRecords(BufferRegistry& registry, const std::vector<Record>& records,
                           const std::vector<std::array<Text, N>>& texts,
                           LPWSTR Record::*const (&fields)[N], LPBYTE* out) {
  std::size_t bytes = records.size() * sizeof(Record);
  for (const auto& row : texts)
    for (const Text& t : row)
      if (t) bytes += (t->size() + 1) * sizeof(char16_t);
  if (bytes == 0) bytes = sizeof(Record);  // an empty answer still gets a buffer
  auto* base = static_cast<BYTE*>(registry.Allocate(bytes));
  if (base == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  auto* recs = reinterpret_cast<Record*>(base);
  auto* str = reinterpret_cast<char16_t*>(base + records.size() * sizeof(Record));
  for (std::size_t i = 0; i < records.size(); ++i) {
    recs[i] = records[i];
    for (std::size_t f = 0; f < N; ++f) {
      const Text& t = texts[i][f];
      if (!t) {
        recs[i].*fields[f] = nullptr;
        continue;
      }
      std::char_traits<char16_t>::copy(str, t->data(), t->size());
      str[t->size()] = u'\0';
      recs[i].*fields[f] = str;
      str += t->size() + 1;
    }
  }
  *out = base;
  return NERR_Success;
}

// The bytes one record and its texts take in an answer, as a server counts
// them against the preferred maximum length.
template <typename Record, std::size_t N>
std::size_t RecordBytes(const std::array<Text, N>& row) {
  std::size_t bytes = sizeof(Record);
  for (const Text& t : row)
    if (t) bytes += (t->size() + 1) * sizeof(char16_t);
  return bytes;
}

}  // namespace quorvix::samba

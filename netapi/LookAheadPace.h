// How far the providers' look ahead at a scan's machines (the machines
// that take no connection) runs ahead of the scan, on either system.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <vector>

namespace quorvix {

// What the scan passes in kLookAheadTime at its pace so far, between
// kMinLookAhead and kMaxLookAhead machines: what is found holds for a while
// only.
inline constexpr std::size_t kMinLookAhead = 256;
inline constexpr std::size_t kMaxLookAhead = 2048;
inline constexpr std::chrono::seconds kLookAheadTime{30};

// The lead over a scan that has passed `passed` machines in `elapsed`.
inline std::size_t LookAheadLead(std::size_t passed, std::chrono::steady_clock::duration elapsed) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
  const double rate =
      static_cast<double>(passed) / static_cast<double>(std::max<long long>(ms, 1000));
  const auto lead = static_cast<std::size_t>(
      rate * static_cast<double>(std::chrono::milliseconds(kLookAheadTime).count()));
  return std::clamp(lead, kMinLookAhead, kMaxLookAhead);
}

// How many machines of keys the scan has passed once it begins to ask the
// one whose key is key, having passed `passed` before: it is looked for a
// little way on (the scan asks its machines in order, several at a time);
// passed when it is not there.
template <class Key>
std::size_t ScanPlace(const std::vector<Key>& keys, std::size_t passed, const Key& key) {
  const std::size_t end = std::min(keys.size(), passed + kMinLookAhead);
  for (std::size_t i = passed; i < end; ++i)
    if (keys[i] == key) return i + 1;
  return passed;
}

}  // namespace quorvix

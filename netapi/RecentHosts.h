// Machines remembered for a while, such as those that gave no answer lately,
// so that the calls that follow do not wait on them again. Bounded: when
// full, the expired names go first, then any one.
#pragma once

#include <chrono>
#include <cstddef>
#include <iterator>
#include <map>
#include <mutex>

namespace quorvix {

template <typename Name>
class RecentHosts {
 public:
  explicit RecentHosts(std::chrono::steady_clock::duration keep) : keep_(keep) {}

  void Remember(const Name& host) {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(lock_);
    if (until_.size() >= kMaxHosts) {
      for (auto it = until_.begin(); it != until_.end();)
        it = it->second <= now ? until_.erase(it) : std::next(it);
      if (until_.size() >= kMaxHosts) until_.erase(until_.begin());
    }
    until_[host] = now + keep_;
  }

  // Forgets host, as if it had never been remembered.
  void Forget(const Name& host) {
    std::lock_guard lock(lock_);
    until_.erase(host);
  }

  // Whether host was remembered less than the keeping time ago.
  bool Holds(const Name& host) {
    std::lock_guard lock(lock_);
    const auto it = until_.find(host);
    if (it == until_.end()) return false;
    if (it->second > std::chrono::steady_clock::now()) return true;
    until_.erase(it);
    return false;
  }

  static constexpr std::size_t kMaxHosts = 4096;

 private:
  const std::chrono::steady_clock::duration keep_;
  std::mutex lock_;
  std::map<Name, std::chrono::steady_clock::time_point> until_;
};

}  // namespace quorvix

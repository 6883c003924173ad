#include "AnswerBuffer.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace quorvix::samba {

BufferRegistry::~BufferRegistry() {
  // Buffers a caller never released die with the provider.
  for (void* p : live_) std::free(p);
}

void* BufferRegistry::Allocate(std::size_t bytes) {
  void* p = std::calloc(1, bytes == 0 ? 1 : bytes);
  if (p == nullptr) return nullptr;
  try {
    std::lock_guard lock(mutex_);
    live_.insert(p);
  } catch (const std::bad_alloc&) {
    std::free(p);
    return nullptr;
  }
  return p;
}

NET_API_STATUS BufferRegistry::Release(void* p) {
  if (p == nullptr) return NERR_Success;
  {
    std::lock_guard lock(mutex_);
    if (live_.erase(p) == 0) return ERROR_INVALID_PARAMETER;
  }
  std::free(p);
  return NERR_Success;
}

std::size_t BufferRegistry::Outstanding() const {
  std::lock_guard lock(mutex_);
  return live_.size();
}

}  // namespace quorvix::samba

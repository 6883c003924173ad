// Text handling shared by the query layer: name arguments for network calls,
// the lossless read of a platform string, UTF-8 conversion at the program's
// edges, and the holder that releases a platform buffer.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

#include "NetApi.h"

namespace quorvix {

// A name handed to a network call: the text's UTF-16 units followed by one
// NUL unit. The empty text reaches the platform as a lone terminator, which
// it reads as the local computer.
inline LPCWSTR NameArgument(const std::u16string& text) {
  return text.c_str();
}

// The whole NUL-terminated UTF-16 string at p, whatever its length and
// characters; a null address reads as the empty text.
std::u16string fnPointerToString(const char16_t* p);

// A server's name without the leading backslashes that the platform puts
// before it ("\\PDC01" -> "PDC01").
inline std::u16string_view WithoutBackslashes(std::u16string_view name) {
  return name.substr(std::min(name.find_first_not_of(u'\\'), name.size()));
}

// UTF-8 <-> UTF-16 at the program's edges (console, JSON, command line).
// Malformed input is replaced by U+FFFD, never read out of bounds.
std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

// Simple case folding (one code point to one code point) for the scripts that
// user and machine names are written in: Basic Latin, Latin-1, Latin
// Extended-A and Additional, Greek, Cyrillic, Armenian and the full-width
// Latin letters. It does not depend on the process's locale, so names compare
// and order alike everywhere. Code points outside these ranges stay as they
// are; a code point of the Basic Multilingual Plane folds to one there too.
char32_t FoldCase(char32_t c);

// Owns one buffer that a provider handed back and releases it with that
// provider's NetApiBufferFree, once. Pass out() where a call wants LPBYTE*.
class NetBuffer {
 public:
  explicit NetBuffer(NetApi& api) : api_(&api) {}
  NetBuffer(const NetBuffer&) = delete;
  NetBuffer& operator=(const NetBuffer&) = delete;
  NetBuffer(NetBuffer&& other) noexcept
      : api_(other.api_), buf_(std::exchange(other.buf_, nullptr)) {}
  NetBuffer& operator=(NetBuffer&& other) noexcept {
    if (this != &other) {
      reset();
      api_ = other.api_;
      buf_ = std::exchange(other.buf_, nullptr);
    }
    return *this;
  }
  ~NetBuffer() { reset(); }

  // Releases what is held (if anything) and hands out the slot for the next call.
  LPBYTE* out() {
    reset();
    return &buf_;
  }
  LPBYTE get() const { return buf_; }
  explicit operator bool() const { return buf_ != nullptr; }

  // The k-th record (0-based) of an array of records at the buffer's start.
  template <typename Record>
  const Record& record(std::size_t k = 0) const {
    return reinterpret_cast<const Record*>(buf_)[k];
  }

  void reset() {
    if (buf_ != nullptr) api_->NetApiBufferFree(std::exchange(buf_, nullptr));
  }

 private:
  NetApi* api_;
  LPBYTE buf_ = nullptr;
};

}  // namespace quorvix

// Draws numbers, choices and hostile texts from a fuzzer's bytes. When the
// bytes run out every draw gives 0, so a harness always comes to an end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvix::fuzz {

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool Empty() const { return pos_ >= size_; }

  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint32_t U32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | Byte();
    return v;
  }
  // 0 to n-1 (n > 0).
  uint32_t Below(uint32_t n) { return n <= 256 ? Byte() % n : U32() % n; }
  bool Bool() { return (Byte() & 1) != 0; }

  // A text of up to maxUnits UTF-16 units, most of them from a set of the
  // troublesome: controls, separators, bidirectional and zero-width
  // characters, halves of surrogate pairs, formula starters, backslashes.
  std::u16string Text(std::size_t maxUnits) {
    static constexpr char16_t kUnits[] = {
        u'a',   u'B',   u'7',   u'-',   u'=',   u'+',   u'@',   u'\\',  u'"',
        u',',   u' ',   u'\t',  u'\r',  u'\n',  0x1B,   0x07,   0x7F,   0x9B,
        0x00E9, 0x0130, 0x0131, 0x0301, 0x200B, 0x200D, 0x2028, 0x2029, 0x202E,
        0x2066, 0xFEFF, 0xFFFD, 0xD83D, 0xDE00, 0xDC00, 0x4E2D, 0x0416, u'$'};
    std::u16string out;
    const std::size_t n = Below(static_cast<uint32_t>(maxUnits + 1));
    for (std::size_t i = 0; i < n; ++i) {
      const uint8_t b = Byte();
      out += b < 200 ? kUnits[b % (sizeof kUnits / sizeof kUnits[0])]
                     : static_cast<char16_t>((b << 8) | Byte());
    }
    return out;
  }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace quorvix::fuzz

#include "basStringHandler.h"

namespace quorvix {

std::u16string fnPointerToString(const char16_t* p) {
  if (p == nullptr) return {};
  return std::u16string(p);
}

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;  // a lone surrogate
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string FromUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char b = s[i];
    char32_t c = 0xFFFD;
    std::size_t len = 1;
    std::size_t need = 0;
    char32_t min = 0;
    if (b < 0x80) {
      c = b;
    } else if ((b & 0xE0) == 0xC0) {
      need = 1, c = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      need = 2, c = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      need = 3, c = b & 0x07, min = 0x10000;
    }
    if (need > 0) {
      bool ok = true;
      for (std::size_t k = 1; ok && k <= need; ++k) {
        if (i + k >= n || (s[i + k] & 0xC0) != 0x80)
          ok = false;
        else
          c = (c << 6) | (s[i + k] & 0x3F);
      }
      if (ok && c >= min && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF)) {
        len = need + 1;
      } else {
        c = 0xFFFD;
        len = 1;
      }
    } else if (b >= 0x80) {
      c = 0xFFFD;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += len;
  }
  return out;
}

char32_t FoldCase(char32_t c) {
  if (c < 0x80) return (c >= U'A' && c <= U'Z') ? c + 0x20 : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
  if (c == 0xB5) return 0x3BC;  // micro sign -> Greek mu
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) {
      return c == 0x17F ? U's' : c;  // long s folds to s; the dotted/dotless i stay
    }
    if (c == 0x178) return 0xFF;
    // Pairs upper/lower at even/odd code points, except 0x139..0x148 and
    // 0x179..0x17E where the upper case letter sits at the odd one.
    const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (oddUpper) return (c % 2 == 1) ? c + 1 : c;
    return (c % 2 == 0) ? c + 1 : c;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 0x20;  // Greek capitals
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return c + 0x25;
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return c + 0x3F;
  if (c == 0x3C2) return 0x3C3;  // final sigma
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F)) {
    return (c % 2 == 0) ? c + 1 : c;
  }
  if (c == 0x4C0) return 0x4CF;
  if (c >= 0x4C1 && c <= 0x4CE) return (c % 2 == 1) ? c + 1 : c;
  if (c >= 0x531 && c <= 0x556) return c + 0x30;  // Armenian
  if (c >= 0x1E00 && c <= 0x1EFF) {
    if (c == 0x1E9E) return 0xDF;  // capital sharp s
    if (c >= 0x1E96 && c <= 0x1E9F) return c;
    return (c % 2 == 0) ? c + 1 : c;
  }
  if (c >= 0xFF21 && c <= 0xFF3A) return c + 0x20;  // full-width Latin
  return c;
}

}  // namespace quorvix

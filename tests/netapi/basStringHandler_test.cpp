#include "basStringHandler.h"

#include <gtest/gtest.h>

namespace quorvix {
namespace {

TEST(TextRead, NullAddressIsEmptyAndLongStringsComeBackWhole) {
  EXPECT_EQ(fnPointerToString(nullptr), u"");
  const std::u16string longName(300, u'x');
  EXPECT_EQ(fnPointerToString(longName.c_str()), longName);
  // Code units whose low byte is zero, and non-Latin text, are read as they are.
  const std::u16string mixed = u"Ā-Ωмашина-é";
  EXPECT_EQ(fnPointerToString(mixed.c_str()), mixed);
}

TEST(Utf8, RoundTripsAndReplacesMalformedInput) {
  const std::u16string text = u"Jürgen Иван 😀";
  EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
  EXPECT_EQ(ToUtf8(u"é"), "\xC3\xA9");
  // A truncated sequence, a stray continuation byte and an overlong form.
  EXPECT_EQ(FromUtf8("a\xE2\x82"), u"a\uFFFD\uFFFD");
  EXPECT_EQ(FromUtf8("\x80z"), u"\uFFFDz");
  EXPECT_EQ(FromUtf8("\xC0\xAF"), u"\uFFFD\uFFFD");
  // A lone surrogate becomes U+FFFD.
  EXPECT_EQ(ToUtf8(std::u16string(1, char16_t{0xD800})), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace quorvix

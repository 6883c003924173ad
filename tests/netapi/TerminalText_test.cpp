#include "TerminalText.h"

#include <gtest/gtest.h>

#include <sstream>

namespace quorvix {
namespace {

TEST(TerminalText, LinesReachTheTerminalHarmless) {
  // Escape sequences, C1 controls (U+009B is a CSI), bidirectional overrides
  // and malformed UTF-8 become U+FFFD; printable text, wide or not, stays.
  EXPECT_EQ(TerminalLine("a\x1b]0;owned\x07z"), "a\uFFFD]0;owned\uFFFDz");
  EXPECT_EQ(TerminalLine("\xC2\x9B"
                         "2J \u202Eevil \xFF"),
            "\uFFFD2J \uFFFDevil \uFFFD");
  EXPECT_EQ(TerminalLine("PC\r\nFAKE"), "PC\uFFFD\uFFFDFAKE");
  EXPECT_EQ(TerminalLine("Jürgen 日本 \U0001F600"), "Jürgen 日本 \U0001F600");

  // The stream keeps its own line ends, so progress can rewrite its line.
  std::ostringstream target;
  {
    TerminalStreamBuf buf(target);
    std::ostream err(&buf);
    err << "\rasked 1 of 2" << std::flush << "\rasked 2 of 2\n";
    err << "domain \"X\x1b[2J\": failed\n"
        << "unterminated \x07";
  }
  EXPECT_EQ(target.str(),
            "\rasked 1 of 2\rasked 2 of 2\ndomain \"X\uFFFD[2J\": failed\nunterminated \uFFFD");
}

}  // namespace
}  // namespace quorvix

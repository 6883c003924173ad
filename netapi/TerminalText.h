// Text on its way to a terminal. Names, keys and messages may come from a
// hostile network or file; what they hold must not steer the terminal (escape
// sequences, a title, a carriage return that overwrites a line) nor hide or
// fake text (bidirectional overrides, zero-width characters).
#pragma once

#include <cstddef>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

namespace quorvix {

// The code point at text[i], a surrogate pair read whole (a lone surrogate
// as itself); i moves past it.
char32_t NextCodePoint(std::u16string_view text, std::size_t& i);

// Controls, format characters (zero-width, bidirectional, byte-order mark),
// line and paragraph separators and lone surrogates.
bool IsHiddenCharacter(char32_t c);

// Terminal columns of one character: combining marks none, wide and
// full-width characters (emoji among them) two, every other one; a hidden
// character counts as the U+FFFD that stands for it.
std::size_t CharacterColumns(char32_t c);

// The text with every hidden character replaced by U+FFFD.
std::u16string VisibleText(std::u16string_view text);

// Terminal columns a text takes.
std::size_t TextColumns(std::u16string_view text);

// UTF-8 text made one harmless line: malformed bytes and hidden characters,
// line ends included, become U+FFFD.
std::string TerminalLine(std::string_view utf8);

// A stream buffer that passes line after line to a terminal stream, each made
// harmless by TerminalLine; only its own "\n" and "\r" get through as such.
class TerminalStreamBuf : public std::streambuf {
 public:
  explicit TerminalStreamBuf(std::ostream& target);
  ~TerminalStreamBuf() override;
  TerminalStreamBuf(const TerminalStreamBuf&) = delete;
  TerminalStreamBuf& operator=(const TerminalStreamBuf&) = delete;

 protected:
  int_type overflow(int_type ch) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;

 private:
  void Emit();

  std::ostream& target_;
  std::string pending_;
};

}  // namespace quorvix

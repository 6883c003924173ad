#include "ReportOrder.h"

#include <algorithm>

namespace quorvix {

const char16_t* const kReportColumns[5] = {u"Username", u"Workstation", u"Domain", u"Logon Server",
                                           u"Last Logon"};

namespace {

constexpr int16_t kLastLogonKey = 4;

// Simple case folding (one code point to one code point) for the scripts that
// user and machine names are written in: Basic Latin, Latin-1, Latin
// Extended-A and Additional, Greek, Cyrillic, Armenian and the full-width
// Latin letters. It does not depend on the process's locale, so the window
// and the console order alike. Code points outside these ranges compare as
// they are.
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

// Next code point of a UTF-16 text; a lone surrogate stands for itself.
char32_t NextCodePoint(const std::u16string& s, std::size_t& i) {
  const char32_t c = s[i++];
  if (c >= 0xD800 && c <= 0xDBFF && i < s.size() && s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
    return 0x10000 + ((c - 0xD800) << 10) + (s[i++] - 0xDC00);
  }
  return c;
}

// Compares by folded code points: case-insensitive, and independent of how
// UTF-16 orders the characters beyond U+FFFF.
int CompareFolded(const std::u16string& a, const std::u16string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const char32_t x = FoldCase(NextCodePoint(a, i));
    const char32_t y = FoldCase(NextCodePoint(b, j));
    if (x != y) return x < y ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

const std::u16string kNoText;

}  // namespace

void OnColumnClick(SortState& state, int32_t index) {
  state.SortKey = static_cast<int16_t>(index - 1);
  state.SortOrder = state.SortOrder == 1 ? 0 : 1;
  state.Sorted = true;
}

const std::u16string& CellText(const ReportRow& row, int16_t key) {
  switch (key) {
    case 0:
      return row.user;
    case 1:
      return row.workstation;
    case 2:
      return row.domain;
    case 3:
      return row.logonServer;
    case 4:
      return row.lastLogonText;
    default:
      return kNoText;  // no such column: every row compares equal
  }
}

int CompareRows(const ReportRow& a, const ReportRow& b, int16_t key) {
  if (key == kLastLogonKey) {
    // By time, not by text: the text orders by day of the month first.
    if (a.lastLogon == b.lastLogon) return 0;
    if (!a.lastLogon) return -1;
    if (!b.lastLogon) return 1;
    return *a.lastLogon < *b.lastLogon ? -1 : 1;
  }
  return CompareFolded(CellText(a, key), CellText(b, key));
}

bool RowBefore(const ReportRow& a, const ReportRow& b, const SortState& state) {
  const int c = CompareRows(a, b, state.SortKey);
  if (c != 0) return state.SortOrder == 1 ? c > 0 : c < 0;
  return a.sequence < b.sequence;
}

void SortRows(std::vector<ReportRow>& rows, const SortState& state) {
  if (!state.Sorted) return;
  std::stable_sort(rows.begin(), rows.end(), [&state](const ReportRow& a, const ReportRow& b) {
    return RowBefore(a, b, state);
  });
}

}  // namespace quorvix

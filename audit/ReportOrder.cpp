#include "ReportOrder.h"

#include <algorithm>

#include "basStringHandler.h"

namespace quorvix {

const char16_t* const kReportColumns[5] = {u"Username", u"Workstation", u"Domain", u"Logon Server",
                                           u"Last Logon"};

namespace {

constexpr int16_t kLastLogonKey = 4;

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

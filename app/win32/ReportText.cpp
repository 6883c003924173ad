#include "ReportText.h"

#include <windows.h>
// windows.h must precede commctrl.h.
#include <commctrl.h>

#include "ReportOrder.h"
#include "TerminalText.h"

namespace quorvix::win32 {

std::u16string ShownCell(const ReportRow& row, int16_t column) {
  return VisibleText(CellText(row, column));
}

int FindRow(const ReportRows& rows, std::u16string_view text, int start, bool partial, bool wrap) {
  const auto count = static_cast<int>(rows.Size());
  if (start < 0 || start >= count) start = 0;
  const auto matches = [&](int i) {
    const std::u16string shown = ShownCell(rows.RowAt(static_cast<size_t>(i)), 0);
    if (shown.size() < text.size() || (!partial && shown.size() != text.size())) return false;
    const int n = static_cast<int>(text.size());
    return n == 0 || CompareStringOrdinal(reinterpret_cast<const wchar_t*>(shown.data()), n,
                                          reinterpret_cast<const wchar_t*>(text.data()), n,
                                          TRUE) == CSTR_EQUAL;
  };
  for (int i = start; i < count; ++i)
    if (matches(i)) return i;
  for (int i = 0; wrap && i < start; ++i)
    if (matches(i)) return i;
  return -1;
}

int FindRowAsked(const ReportRows& rows, std::u16string_view text, int start, unsigned flags) {
  // Not in every SDK's headers (Windows Vista's).
  constexpr unsigned kSubstring = 0x0004;
  const bool partial = (flags & (LVFI_PARTIAL | kSubstring)) != 0;
  if ((flags & LVFI_STRING) == 0 && !partial) return -1;
  return FindRow(rows, text, start, partial, (flags & LVFI_WRAP) != 0);
}

}  // namespace quorvix::win32

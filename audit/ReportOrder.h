// Ordering of the report: the sort state that header clicks change, and the
// comparison of two rows, shared by the window and the console report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ReportWindow.h"

namespace quorvix {

// Column headers, in column order; SortKey k orders by column k.
extern const char16_t* const kReportColumns[5];

struct SortState {
  bool Sorted = true;
  int16_t SortKey = 0;    // 0 "Username" .. 4 "Last Logon"
  int32_t SortOrder = 0;  // 0 ascending, 1 descending
};

// A click on the header with 1-based index: that column becomes the key and
// the direction flips, whatever column was clicked.
void OnColumnClick(SortState& state, int32_t index);

// Negative, zero or positive as a orders before, with or after b by column
// key, ascending: texts case-insensitively, "Last Logon" by time (rows
// without a time first).
int CompareRows(const ReportRow& a, const ReportRow& b, int16_t key);

// The text of a row's cell in column key.
const std::u16string& CellText(const ReportRow& row, int16_t key);

// True when row a is shown before row b under the state: by the key column
// in the state's direction, rows whose keys compare equal by their place in
// the scan (ReportRow::sequence), whatever order they arrived in.
bool RowBefore(const ReportRow& a, const ReportRow& b, const SortState& state);

// Orders rows by the state; rows that RowBefore leaves equal keep the order
// in which they were added.
void SortRows(std::vector<ReportRow>& rows, const SortState& state);

}  // namespace quorvix

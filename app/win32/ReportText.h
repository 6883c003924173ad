// The report's text as the native list shows it, and the search of the
// list's type-ahead over it (an owner-data list view asks its window for the
// row that a typed text names).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ReportRows.h"

namespace quorvix::win32 {

// A cell as shown: names from the network with their hidden characters
// (direction overrides, zero-width characters, controls) made visible.
std::u16string ShownCell(const ReportRow& row, int16_t column);

// The first row from position start on whose first column, as shown, begins
// with text (is text, unless partial), compared without regard to case; with
// wrap the search goes on from the top up to start. -1 when none matches.
int FindRow(const ReportRows& rows, std::u16string_view text, int start, bool partial, bool wrap);

// FindRow as the list asks it, by the flags of its find (LVFINDINFO): the
// text's start (LVFI_PARTIAL, or LVFI_SUBSTRING, which later lists send for
// the same) or the whole text (LVFI_STRING), from the top again with
// LVFI_WRAP. -1 for a find by anything else: rows carry no item data.
int FindRowAsked(const ReportRows& rows, std::u16string_view text, int start, unsigned flags);

}  // namespace quorvix::win32

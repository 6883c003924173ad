// The native list's type-ahead over the report's shown text.
#include "ReportText.h"

#include <gtest/gtest.h>
#include <windows.h>
// windows.h must precede commctrl.h.
#include <commctrl.h>

namespace quorvix::win32 {
namespace {

ReportRows Users(std::initializer_list<const char16_t*> names) {
  ReportRows rows;
  rows.SetState(SortState{false, 0, 0});  // shown in arrival order
  std::vector<ReportRow> batch;
  for (const char16_t* name : names) {
    batch.emplace_back();
    batch.back().user = name;
  }
  rows.Append(std::move(batch));
  return rows;
}

TEST(ReportText, TypedTextFindsTheNextRowThatBeginsWithItAsShown) {
  const ReportRows rows = Users({u"carl", u"Bob", u"ann\u202Etxt", u"bert", u"ann"});
  EXPECT_EQ(FindRow(rows, u"b", 0, true, true), 1);  // case aside
  EXPECT_EQ(FindRow(rows, u"B", 2, true, true), 3);
  EXPECT_EQ(FindRow(rows, u"c", 1, true, true), 0);  // from the top again
  EXPECT_EQ(FindRow(rows, u"c", 1, true, false), -1);
  EXPECT_EQ(FindRow(rows, u"z", 0, true, true), -1);  // not row 0
  EXPECT_EQ(FindRow(rows, u"ANN\uFFFD", 0, true, true), 2);
  EXPECT_EQ(FindRow(rows, u"ann", 0, false, true), 4);  // the whole text
  EXPECT_EQ(FindRow(rows, u"bob", 9, true, true), 1);   // a start past the end is the top
  EXPECT_EQ(FindRow(Users({}), u"a", 0, true, true), -1);
  EXPECT_EQ(ShownCell(rows.RowAt(2), 0), u"ann\uFFFDtxt");
  // As the list asks: a substring find (0x4) is one by the text's start.
  EXPECT_EQ(FindRowAsked(rows, u"b", 2, 0x4 | LVFI_WRAP), 3);
  EXPECT_EQ(FindRowAsked(rows, u"t", 0, 0x4 | LVFI_WRAP), -1);  // the start, not anywhere
  EXPECT_EQ(FindRowAsked(rows, u"b", 2, LVFI_PARTIAL), 3);
  EXPECT_EQ(FindRowAsked(rows, u"b", 0, LVFI_STRING), -1);
  EXPECT_EQ(FindRowAsked(rows, u"bert", 0, LVFI_STRING), 3);
  EXPECT_EQ(FindRowAsked(rows, u"c", 1, LVFI_PARTIAL | LVFI_WRAP), 0);
  EXPECT_EQ(FindRowAsked(rows, u"bob", 0, LVFI_PARAM), -1);
}

}  // namespace
}  // namespace quorvix::win32

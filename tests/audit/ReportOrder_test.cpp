#include "ReportOrder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvix {
namespace {

ReportRow Row(std::u16string user, std::u16string workstation = u"", std::u16string domain = u"",
              std::optional<uint32_t> lastLogon = std::nullopt,
              std::u16string lastLogonText = u"") {
  ReportRow r;
  r.user = std::move(user);
  r.workstation = std::move(workstation);
  r.domain = std::move(domain);
  r.lastLogon = lastLogon;
  r.lastLogonText = std::move(lastLogonText);
  return r;
}

std::vector<std::u16string> Users(const std::vector<ReportRow>& rows) {
  std::vector<std::u16string> out;
  for (const auto& r : rows) out.push_back(r.user);
  return out;
}

TEST(ReportOrder, HeaderClicksSetTheKeyAndFlipTheDirectionWhateverTheColumn) {
  SortState s;  // as the window starts: by "Username", ascending
  EXPECT_TRUE(s.Sorted);
  EXPECT_EQ(s.SortKey, 0);
  EXPECT_EQ(s.SortOrder, 0);

  OnColumnClick(s, 3);  // "Domain": descending at the first click
  EXPECT_EQ(s.SortKey, 2);
  EXPECT_EQ(s.SortOrder, 1);
  OnColumnClick(s, 3);  // again: ascending
  EXPECT_EQ(s.SortKey, 2);
  EXPECT_EQ(s.SortOrder, 0);
  OnColumnClick(s, 3);
  EXPECT_EQ(s.SortOrder, 1);
  OnColumnClick(s, 1);  // another column after a descending one: ascending
  EXPECT_EQ(s.SortKey, 0);
  EXPECT_EQ(s.SortOrder, 0);
  OnColumnClick(s, 5);  // and the next click on yet another column flips again
  EXPECT_EQ(s.SortKey, 4);
  EXPECT_EQ(s.SortOrder, 1);
  EXPECT_TRUE(s.Sorted);

  // An unknown direction value is treated as ascending, so a click makes it descending.
  SortState odd;
  odd.SortOrder = 7;
  OnColumnClick(odd, 2);
  EXPECT_EQ(odd.SortOrder, 1);

  EXPECT_EQ(std::u16string(kReportColumns[0]), u"Username");
  EXPECT_EQ(std::u16string(kReportColumns[3]), u"Logon Server");
  EXPECT_EQ(std::u16string(kReportColumns[4]), u"Last Logon");
}

TEST(ReportOrder, TextsCompareCaseInsensitivelyAndEqualKeysKeepTheirOrder) {
  EXPECT_EQ(CompareRows(Row(u"alice"), Row(u"ALICE"), 0), 0);
  EXPECT_LT(CompareRows(Row(u"alice"), Row(u"Bob"), 0), 0);
  EXPECT_GT(CompareRows(Row(u"Bob"), Row(u"alice"), 0), 0);
  EXPECT_LT(CompareRows(Row(u"Al"), Row(u"alice"), 0), 0);  // a prefix first
  EXPECT_EQ(CompareRows(Row(u"ÉLODIE"), Row(u"élodie"), 0), 0);
  EXPECT_EQ(CompareRows(Row(u"ŁUKASZ"), Row(u"łukasz"), 0), 0);
  EXPECT_EQ(CompareRows(Row(u"ИВАН"), Row(u"иван"), 0), 0);
  EXPECT_EQ(CompareRows(Row(u"ЁЖИК"), Row(u"ёжик"), 0), 0);
  EXPECT_EQ(CompareRows(Row(u"ΣΩΚΡΆΤΗΣ"), Row(u"σωκράτης"), 0), 0);
  EXPECT_LT(CompareRows(Row(u"иван"), Row(u"Павел"), 0), 0);
  // Characters beyond U+FFFF order after those of the BMP's upper end.
  EXPECT_LT(CompareRows(Row(u"\uFF5E"), Row(u"\U0001F600"), 0), 0);

  // The workstation column orders by machine, then by the role that follows.
  EXPECT_LT(CompareRows(Row(u"", u"PC01 (Wks)"), Row(u"", u"pc01 (Wks/Srv)"), 1), 0);
  EXPECT_LT(CompareRows(Row(u"", u"PC01"), Row(u"", u"PC01 (Wks)"), 1), 0);

  std::vector<ReportRow> rows = {Row(u"bob", u"", u"SALES"), Row(u"Carol", u"", u"hq"),
                                 Row(u"alice", u"", u"HQ"),  Row(u"BOB", u"", u"sales"),
                                 Row(u"dave", u"", u"Hq"),   Row(u"Alice", u"", u"x")};
  SortState s;
  SortRows(rows, s);
  EXPECT_EQ(Users(rows),
            (std::vector<std::u16string>{u"alice", u"Alice", u"bob", u"BOB", u"Carol", u"dave"}));
  // Descending keeps rows with equal keys in the order they were added.
  OnColumnClick(s, 1);
  SortRows(rows, s);
  EXPECT_EQ(Users(rows),
            (std::vector<std::u16string>{u"dave", u"Carol", u"bob", u"BOB", u"alice", u"Alice"}));
  // By domain, ascending: HQ rows in their current order, then SALES, then x.
  OnColumnClick(s, 3);
  SortRows(rows, s);
  EXPECT_EQ(Users(rows),
            (std::vector<std::u16string>{u"dave", u"Carol", u"alice", u"bob", u"BOB", u"Alice"}));
}

TEST(ReportOrder, LastLogonOrdersByTimeWithUnknownTimesFirst) {
  const ReportRow dec1999 = Row(u"a", u"", u"", 945244800u, u"15-Dec-1999 08:00:00");
  const ReportRow jan2002 = Row(u"b", u"", u"", 1009958400u, u"02-Jan-2002 08:00:00");
  const ReportRow never = Row(u"c", u"", u"", 0u, u"01-Jan-1970 00:00:00");
  const ReportRow unknown = Row(u"d");
  const ReportRow after2038 = Row(u"e", u"", u"", 2147483648u, u"19-Jan-2038 03:14:08");
  EXPECT_LT(CompareRows(dec1999, jan2002, 4), 0);  // by time, not by the day's digits
  EXPECT_LT(CompareRows(unknown, never, 4), 0);
  EXPECT_EQ(CompareRows(unknown, Row(u"x"), 4), 0);
  EXPECT_LT(CompareRows(jan2002, after2038, 4), 0);

  std::vector<ReportRow> rows = {after2038, jan2002, unknown, dec1999, never, Row(u"f")};
  SortState s;
  OnColumnClick(s, 5);  // descending
  SortRows(rows, s);
  EXPECT_EQ(Users(rows), (std::vector<std::u16string>{u"e", u"b", u"a", u"c", u"d", u"f"}));
  OnColumnClick(s, 5);  // ascending
  SortRows(rows, s);
  EXPECT_EQ(Users(rows), (std::vector<std::u16string>{u"d", u"f", u"c", u"a", u"b", u"e"}));
  EXPECT_EQ(CellText(jan2002, 4), u"02-Jan-2002 08:00:00");

  // A key that names no column leaves the rows as they are.
  SortState none;
  none.SortKey = 9;
  SortRows(rows, none);
  EXPECT_EQ(Users(rows), (std::vector<std::u16string>{u"d", u"f", u"c", u"a", u"b", u"e"}));
  EXPECT_EQ(CellText(jan2002, -1), u"");
}

}  // namespace
}  // namespace quorvix

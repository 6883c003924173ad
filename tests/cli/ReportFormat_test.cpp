#include "ReportFormat.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "CliTestSupport.h"

namespace quorvix {
namespace {

using testing::ParseCsv;
using testing::ParseTable;

const std::vector<std::string> kHeaders = {"Username", "Workstation", "Domain", "Logon Server",
                                           "Last Logon"};

ReportRow Row(std::u16string user, std::u16string machine, std::u16string role,
              std::u16string logonServer, std::optional<uint32_t> lastLogon,
              std::u16string lastLogonText) {
  ReportRow r;
  r.user = std::move(user);
  r.machine = std::move(machine);
  r.role = std::move(role);
  r.workstation = r.role.empty() ? r.machine : r.machine + u" (" + r.role + u")";
  r.domain = u"HQ";
  r.logonServer = std::move(logonServer);
  r.lastLogon = lastLogon;
  r.lastLogonText = std::move(lastLogonText);
  return r;
}

TEST(ReportFormat, DisplayWidthCountsColumnsNotBytes) {
  EXPECT_EQ(DisplayWidth(u"alice"), 5u);
  EXPECT_EQ(DisplayWidth(u"Иван"), 4u);
  EXPECT_EQ(DisplayWidth(u"Jürgen"), 6u);
  EXPECT_EQ(DisplayWidth(u"e\u0301"), 1u);  // a combining accent takes no column
  EXPECT_EQ(DisplayWidth(u"日本"), 4u);
  EXPECT_EQ(DisplayWidth(u"\U0001F600"), 2u);
  EXPECT_EQ(DisplayWidth(u""), 0u);
  // Emoji beyond the faces, and symbols drawn as emoji, take two columns.
  EXPECT_EQ(DisplayWidth(u"\U0001F680\U0001FA90\u2614\u231A"), 8u);
  EXPECT_EQ(DisplayWidth(u"\u0915\u094D"), 1u);  // a Devanagari virama combines
  // Unassigned code points take one column, except where the standard keeps
  // room for more ideographs.
  EXPECT_EQ(DisplayWidth(u"a\u0378b\U00011F00"), 4u);
  EXPECT_EQ(DisplayWidth(u"\U0002FFFD"), 2u);
}

TEST(ReportFormat, TableAlignsColumnsAndNeutralisesControlCharacters) {
  const std::vector<ReportRow> rows = {
      Row(u"Иван", u"ПК-01", u"Wks", u"\\\\PDC01", 0u, u"01-Jan-1970 00:00:00"),
      Row(u"a", u"X", u"", u"", std::nullopt, u""),
      Row(u"evil\x1b[2J\u202E", u"PC\n2", u"Wks", u"", std::nullopt, u"")};
  const std::string table = FormatTable(rows);
  const auto lines = ParseTable(table, kHeaders);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], kHeaders);
  EXPECT_EQ(lines[1][0].find_first_not_of('-'), std::string::npos);
  EXPECT_EQ(lines[2], (std::vector<std::string>{"Иван", "ПК-01 (Wks)", "HQ", "\\\\PDC01",
                                                "01-Jan-1970 00:00:00"}));
  EXPECT_EQ(lines[3], (std::vector<std::string>{"a", "X", "HQ", "", ""}));
  EXPECT_EQ(lines[4][0], "evil\xEF\xBF\xBD[2J\xEF\xBF\xBD");
  EXPECT_EQ(lines[4][1],
            "PC\xEF\xBF\xBD"
            "2 (Wks)");
  EXPECT_EQ(table.find('\x1b'), std::string::npos);
  // Zero-width characters, line and paragraph separators and a byte-order
  // mark would hide text or break the line: they are shown as U+FFFD.
  const auto hidden =
      ParseTable(FormatTable({Row(u"a\u200Bb\u2028c\u2029d\uFEFF\u2060e\u00ADf\xD800", u"X", u"",
                                  u"", std::nullopt, u"")}),
                 kHeaders);
  ASSERT_EQ(hidden.size(), 3u);
  EXPECT_EQ(hidden[2][0], "a\uFFFDb\uFFFDc\uFFFDd\uFFFD\uFFFDe\uFFFDf\uFFFD");
  // No blanks at the end of a line.
  EXPECT_EQ(table.find(" \n"), std::string::npos);
  // An empty report is the headers alone.
  EXPECT_EQ(ParseTable(FormatTable({}), kHeaders).size(), 2u);
}

TEST(ReportFormat, CsvAndJsonCarryEveryCell) {
  const std::vector<ReportRow> rows = {
      Row(u"O\"Brien, Pat", u"PC1", u"Wks", u"\\\\PDC01", 1016097165u, u"14-Mar-2002 09:12:45"),
      Row(u"line\nbreak", u"X1", u"", u"", std::nullopt, u"")};
  const std::string csv = FormatCsv(rows);
  EXPECT_EQ(csv.substr(0, csv.find("\r\n")),
            "\"Username\",\"Workstation\",\"Domain\",\"Logon Server\",\"Last Logon\"");
  const auto records = ParseCsv(csv);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[1], (std::vector<std::string>{"O\"Brien, Pat", "PC1 (Wks)", "HQ", "\\\\PDC01",
                                                  "14-Mar-2002 09:12:45"}));
  EXPECT_EQ(records[2], (std::vector<std::string>{"line\nbreak", "X1", "HQ", "", ""}));

  const auto json = nlohmann::json::parse(FormatJson(rows));
  ASSERT_TRUE(json.is_array());
  ASSERT_EQ(json.size(), 2u);
  EXPECT_EQ(json[0], nlohmann::json::parse(R"({"user": "O\"Brien, Pat", "workstation": "PC1",
      "role": "Wks", "domain": "HQ", "logonServer": "\\\\PDC01",
      "lastLogon": "2002-03-14T09:12:45Z", "lastLogonText": "14-Mar-2002 09:12:45"})"));
  EXPECT_TRUE(json[1]["role"].is_null());
  EXPECT_TRUE(json[1]["lastLogon"].is_null());
  EXPECT_EQ(json[1]["lastLogonText"], "");
  EXPECT_EQ(json[1]["user"], "line\nbreak");
  EXPECT_EQ(nlohmann::json::parse(FormatJson({})), nlohmann::json::array());
}

TEST(ReportFormat, CsvKeepsSpreadsheetsFromRunningCellsAsFormulas) {
  const std::vector<ReportRow> rows = {Row(u"=1+2", u"+PC", u"", u"-x", std::nullopt, u"@A1"),
                                       Row(u"\tcmd", u"\rPC", u"", u"a=b", std::nullopt, u"")};
  const auto safe = ParseCsv(FormatCsv(rows));
  ASSERT_EQ(safe.size(), 3u);
  EXPECT_EQ(safe[1], (std::vector<std::string>{"'=1+2", "'+PC", "HQ", "'-x", "'@A1"}));
  EXPECT_EQ(safe[2], (std::vector<std::string>{"'\tcmd", "'\rPC", "HQ", "a=b", ""}));
  const auto raw = ParseCsv(FormatCsv(rows, CsvFields::Raw));
  ASSERT_EQ(raw.size(), 3u);
  EXPECT_EQ(raw[1], (std::vector<std::string>{"=1+2", "+PC", "HQ", "-x", "@A1"}));
  EXPECT_EQ(raw[2], (std::vector<std::string>{"\tcmd", "\rPC", "HQ", "a=b", ""}));
}

}  // namespace
}  // namespace quorvix

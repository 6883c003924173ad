#include "ReportFormat.h"

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>

#include "LastLogon.h"
#include "ReportOrder.h"
#include "TerminalText.h"
#include "basStringHandler.h"

namespace quorvix {

namespace {

constexpr std::size_t kColumns = 5;
constexpr std::string_view kColumnGap = "  ";

std::array<std::u16string, kColumns> Cells(const ReportRow& row) {
  return {row.user, row.workstation, row.domain, row.logonServer, row.lastLogonText};
}

// A spreadsheet runs a cell that starts with one of these as a formula (or,
// for tab and CR, after trimming them).
bool LooksLikeFormula(const std::u16string& text) {
  return !text.empty() && std::u16string_view(u"=+-@\t\r").find(text[0]) != std::u16string::npos;
}

void AppendCsvField(std::string& out, const std::u16string& text, CsvFields fields) {
  out += '"';
  if (fields == CsvFields::ForSpreadsheets && LooksLikeFormula(text)) out += '\'';
  for (char c : ToUtf8(text)) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void AppendCsvRecord(std::string& out, const std::array<std::u16string, kColumns>& cells,
                     CsvFields fields) {
  for (std::size_t k = 0; k < kColumns; ++k) {
    if (k > 0) out += ',';
    AppendCsvField(out, cells[k], fields);
  }
  out += "\r\n";
}

std::array<std::u16string, kColumns> Headers() {
  std::array<std::u16string, kColumns> h;
  for (std::size_t k = 0; k < kColumns; ++k) h[k] = kReportColumns[k];
  return h;
}

}  // namespace

std::size_t DisplayWidth(std::u16string_view text) {
  return TextColumns(text);
}

std::string FormatTable(const std::vector<ReportRow>& rows) {
  std::vector<std::array<std::u16string, kColumns>> lines;
  lines.reserve(rows.size() + 1);
  lines.push_back(Headers());
  for (const auto& row : rows) {
    auto cells = Cells(row);
    for (auto& c : cells) c = VisibleText(c);
    lines.push_back(std::move(cells));
  }
  std::array<std::size_t, kColumns> widths{};
  for (const auto& line : lines) {
    for (std::size_t k = 0; k < kColumns; ++k) {
      widths[k] = std::max(widths[k], DisplayWidth(line[k]));
    }
  }

  std::string out;
  auto appendLine = [&](const std::array<std::u16string, kColumns>& cells) {
    std::string line;
    for (std::size_t k = 0; k < kColumns; ++k) {
      if (k > 0) line += kColumnGap;
      line += ToUtf8(cells[k]);
      if (k + 1 < kColumns) line.append(widths[k] - DisplayWidth(cells[k]), ' ');
    }
    // The last cells may be empty: no blanks at the end of a line.
    line.erase(line.find_last_not_of(' ') + 1);
    out += line;
    out += '\n';
  };
  appendLine(lines[0]);
  std::array<std::u16string, kColumns> rules;
  for (std::size_t k = 0; k < kColumns; ++k) rules[k] = std::u16string(widths[k], u'-');
  appendLine(rules);
  for (std::size_t r = 1; r < lines.size(); ++r) appendLine(lines[r]);
  return out;
}

std::string FormatCsv(const std::vector<ReportRow>& rows, CsvFields fields) {
  std::string out;
  AppendCsvRecord(out, Headers(), fields);
  for (const auto& row : rows) AppendCsvRecord(out, Cells(row), fields);
  return out;
}

std::string FormatJson(const std::vector<ReportRow>& rows) {
  nlohmann::ordered_json array = nlohmann::ordered_json::array();
  for (const auto& row : rows) {
    nlohmann::ordered_json o;
    o["user"] = ToUtf8(row.user);
    o["workstation"] = ToUtf8(row.machine);
    o["role"] =
        row.role.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(ToUtf8(row.role));
    o["domain"] = ToUtf8(row.domain);
    o["logonServer"] = ToUtf8(row.logonServer);
    o["lastLogon"] = row.lastLogon ? nlohmann::ordered_json(FormatIso8601(*row.lastLogon))
                                   : nlohmann::ordered_json();
    o["lastLogonText"] = ToUtf8(row.lastLogonText);
    array.push_back(std::move(o));
  }
  return array.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace quorvix

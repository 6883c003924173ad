#include "ReportFormat.h"

#include <algorithm>
#include <iterator>
#include <nlohmann/json.hpp>

#include "LastLogon.h"
#include "ReportOrder.h"
#include "ScanSummary.h"
#include "TerminalText.h"
#include "basStringHandler.h"

namespace quorvix {

namespace {

constexpr std::string_view kColumnGap = "  ";

using Line = std::vector<std::u16string>;

Line Cells(const ReportRow& row) {
  return {row.user, row.workstation, row.domain, row.logonServer, row.lastLogonText};
}

// A spreadsheet runs a cell that starts with one of these as a formula (or,
// for tab and CR, after trimming them).
bool LooksLikeFormula(const std::u16string& text) {
  return !text.empty() && std::u16string_view(u"=+-@\t\r").find(text[0]) != std::u16string::npos;
}

void AppendCsvField(std::string& out, const std::u16string& text, CsvFields fields,
                    bool forTerminal) {
  out += '"';
  if (fields == CsvFields::ForSpreadsheets && LooksLikeFormula(text)) out += '\'';
  for (char c : ToUtf8(forTerminal ? VisibleText(text) : text)) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void AppendCsvRecord(std::string& out, const Line& cells, CsvFields fields, bool forTerminal) {
  for (std::size_t k = 0; k < cells.size(); ++k) {
    if (k > 0) out += ',';
    AppendCsvField(out, cells[k], fields, forTerminal);
  }
  out += "\r\n";
}

// JSON text with every hidden character of its strings written as a \u
// escape: the same values, but nothing in them can steer a terminal or hide
// text. (The dump escapes the controls below U+0020 itself; those left are
// its own line ends.)
std::string EscapeHidden(const std::string& json) {
  const std::u16string text = FromUtf8(json);
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t start = i;
    const char32_t c = NextCodePoint(text, i);
    if (c < 0x7F || !IsHiddenCharacter(c)) {
      out.append(text, start, i - start);
      continue;
    }
    for (std::size_t k = start; k < i; ++k) {
      static constexpr char16_t kHex[] = u"0123456789abcdef";
      out += u"\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(text[k] >> shift) & 0xF];
    }
  }
  return ToUtf8(out);
}

Line Headers() {
  return Line(std::begin(kReportColumns), std::end(kReportColumns));
}

// The header line, a line of rules, then the lines, each cell made visible
// and padded to its column's display width.
std::string FormatGrid(std::vector<Line> lines) {
  const std::size_t columns = lines.front().size();
  for (auto& line : lines)
    for (auto& c : line) c = VisibleText(c);
  std::vector<std::size_t> widths(columns);
  for (const auto& line : lines) {
    for (std::size_t k = 0; k < columns; ++k) {
      widths[k] = std::max(widths[k], DisplayWidth(line[k]));
    }
  }

  std::string out;
  auto appendLine = [&](const Line& cells) {
    std::string line;
    for (std::size_t k = 0; k < columns; ++k) {
      if (k > 0) line += kColumnGap;
      line += ToUtf8(cells[k]);
      if (k + 1 < columns) line.append(widths[k] - DisplayWidth(cells[k]), ' ');
    }
    // The last cells may be empty: no blanks at the end of a line.
    line.erase(line.find_last_not_of(' ') + 1);
    out += line;
    out += '\n';
  };
  appendLine(lines[0]);
  Line rules(columns);
  for (std::size_t k = 0; k < columns; ++k) rules[k] = std::u16string(widths[k], u'-');
  appendLine(rules);
  for (std::size_t r = 1; r < lines.size(); ++r) appendLine(lines[r]);
  return out;
}

const Line kMachineHeaders = {u"Machine", u"Role", u"Entries", u"Outcome", u"Status", u"Message"};

Line MachineCells(const MachineOutcome& m) {
  const std::string entries = std::to_string(m.entries);
  const std::string status = m.status == 0 ? "" : std::to_string(static_cast<uint32_t>(m.status));
  return {m.machine,
          m.role,
          std::u16string(entries.begin(), entries.end()),
          StateText(m.state),
          std::u16string(status.begin(), status.end()),
          m.message};
}

}  // namespace

std::size_t DisplayWidth(std::u16string_view text) {
  return TextColumns(text);
}

std::string FormatTable(const std::vector<ReportRow>& rows) {
  std::vector<Line> lines;
  lines.reserve(rows.size() + 1);
  lines.push_back(Headers());
  for (const auto& row : rows) lines.push_back(Cells(row));
  return FormatGrid(std::move(lines));
}

std::string FormatCsv(const std::vector<ReportRow>& rows, CsvFields fields, bool forTerminal) {
  std::string out;
  AppendCsvRecord(out, Headers(), fields, forTerminal);
  for (const auto& row : rows) AppendCsvRecord(out, Cells(row), fields, forTerminal);
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
  return EscapeHidden(array.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)) +
         "\n";
}

std::string FormatMachinesTable(const std::vector<MachineOutcome>& machines) {
  std::vector<Line> lines;
  lines.reserve(machines.size() + 1);
  lines.push_back(kMachineHeaders);
  for (const auto& m : machines) lines.push_back(MachineCells(m));
  return FormatGrid(std::move(lines));
}

std::string FormatMachinesCsv(const std::vector<MachineOutcome>& machines, CsvFields fields,
                              bool forTerminal) {
  std::string out;
  AppendCsvRecord(out, kMachineHeaders, fields, forTerminal);
  for (const auto& m : machines) AppendCsvRecord(out, MachineCells(m), fields, forTerminal);
  return out;
}

std::string FormatMachinesJson(const std::vector<MachineOutcome>& machines) {
  nlohmann::ordered_json array = nlohmann::ordered_json::array();
  for (const auto& m : machines) {
    nlohmann::ordered_json o;
    o["machine"] = ToUtf8(m.machine);
    o["role"] = m.role.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(ToUtf8(m.role));
    o["entries"] = m.entries;
    o["outcome"] = ToUtf8(StateText(m.state));
    o["status"] = m.status == 0 ? nlohmann::ordered_json()
                                : nlohmann::ordered_json(static_cast<uint32_t>(m.status));
    o["message"] = ToUtf8(m.message);
    array.push_back(std::move(o));
  }
  return EscapeHidden(array.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)) +
         "\n";
}

}  // namespace quorvix

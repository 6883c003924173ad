#include "ReportFormat.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <nlohmann/json.hpp>

#include "LastLogon.h"
#include "ReportOrder.h"
#include "ScanSummary.h"
#include "basStringHandler.h"

namespace quorvix {

namespace {

constexpr std::size_t kColumns = 5;
constexpr std::string_view kColumnGap = "  ";

char32_t NextCodePoint(std::u16string_view s, std::size_t& i) {
  const char32_t c = s[i++];
  if (c >= 0xD800 && c <= 0xDBFF && i < s.size() && s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
    return 0x10000 + ((c - 0xD800) << 10) + (s[i++] - 0xDC00);
  }
  return c;
}

// Control characters, and the bidirectional overrides that would make a
// cell show other text than it holds.
bool IsControl(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c < 0xA0) || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069);
}

std::size_t CodePointWidth(char32_t c) {
  if (IsControl(c)) return 1;  // shown as U+FFFD
  if ((c >= 0x300 && c <= 0x36F) || (c >= 0x483 && c <= 0x489) || (c >= 0x1AB0 && c <= 0x1AFF) ||
      (c >= 0x1DC0 && c <= 0x1DFF) || (c >= 0x200B && c <= 0x200F) ||
      (c >= 0x20D0 && c <= 0x20FF) || (c >= 0xFE00 && c <= 0xFE0F) ||
      (c >= 0xFE20 && c <= 0xFE2F)) {
    return 0;
  }
  if ((c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
      (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
      (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
      (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
      (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
      (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD)) {
    return 2;
  }
  return 1;
}

std::u16string Printable(const std::u16string& text) {
  std::u16string out = text;
  for (auto& c : out) {
    if (IsControl(c)) c = u'\uFFFD';
  }
  return out;
}

using Line = std::vector<std::u16string>;

Line Cells(const ReportRow& row) {
  return {row.user, row.workstation, row.domain, row.logonServer, row.lastLogonText};
}

void AppendCsvField(std::string& out, const std::u16string& text) {
  out += '"';
  for (char c : ToUtf8(text)) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void AppendCsvRecord(std::string& out, const Line& cells) {
  for (std::size_t k = 0; k < cells.size(); ++k) {
    if (k > 0) out += ',';
    AppendCsvField(out, cells[k]);
  }
  out += "\r\n";
}

Line Headers() {
  return Line(std::begin(kReportColumns), std::end(kReportColumns));
}

// The header line, a line of rules, then the lines, each cell padded to its
// column's display width.
std::string FormatGrid(std::vector<Line> lines) {
  const std::size_t columns = lines.front().size();
  for (auto& line : lines)
    for (auto& c : line) c = Printable(c);
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
  std::size_t width = 0;
  for (std::size_t i = 0; i < text.size();) width += CodePointWidth(NextCodePoint(text, i));
  return width;
}

std::string FormatTable(const std::vector<ReportRow>& rows) {
  std::vector<Line> lines;
  lines.reserve(rows.size() + 1);
  lines.push_back(Headers());
  for (const auto& row : rows) lines.push_back(Cells(row));
  return FormatGrid(std::move(lines));
}

std::string FormatCsv(const std::vector<ReportRow>& rows) {
  std::string out;
  AppendCsvRecord(out, Headers());
  for (const auto& row : rows) AppendCsvRecord(out, Cells(row));
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

std::string FormatMachinesTable(const std::vector<MachineOutcome>& machines) {
  std::vector<Line> lines;
  lines.reserve(machines.size() + 1);
  lines.push_back(kMachineHeaders);
  for (const auto& m : machines) lines.push_back(MachineCells(m));
  return FormatGrid(std::move(lines));
}

std::string FormatMachinesCsv(const std::vector<MachineOutcome>& machines) {
  std::string out;
  AppendCsvRecord(out, kMachineHeaders);
  for (const auto& m : machines) AppendCsvRecord(out, MachineCells(m));
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
  return array.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace quorvix

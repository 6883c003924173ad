// The console report's output formats.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "ReportWindow.h"

namespace quorvix {

// The five column headers and the rows, aligned by display width; control
// characters, bidirectional overrides, zero-width characters, line and
// paragraph separators and byte-order marks in cells are shown as U+FFFD, so
// that a name can neither steer the terminal nor hide. UTF-8, lines end in "\n".
std::string FormatTable(const std::vector<ReportRow>& rows);

enum class CsvFields {
  // A field that starts with =, +, -, @, a tab or CR gets a leading
  // apostrophe, so that a spreadsheet shows it rather than runs it as a
  // formula: names come from remote machines, which may be hostile.
  ForSpreadsheets,
  Raw,  // every field as it is
};

// RFC 4180: a header row, every field quoted, quotes doubled, CRLF line ends;
// UTF-8. forTerminal: every hidden character (see VisibleText) becomes U+FFFD.
std::string FormatCsv(const std::vector<ReportRow>& rows,
                      CsvFields fields = CsvFields::ForSpreadsheets, bool forTerminal = false);

// A JSON array of objects: user, workstation (the machine), role (null when
// unknown), domain, logonServer, lastLogon (ISO 8601 UTC or null) and
// lastLogonText (the cell as shown). UTF-8; hidden characters (see
// VisibleText) are written as \u escapes.
std::string FormatJson(const std::vector<ReportRow>& rows);

// The account of every machine (--machines): Machine, Role, Entries,
// Outcome, Status, Message; as a table, CSV or JSON like the report.
std::string FormatMachinesTable(const std::vector<MachineOutcome>& machines);
std::string FormatMachinesCsv(const std::vector<MachineOutcome>& machines,
                              CsvFields fields = CsvFields::ForSpreadsheets,
                              bool forTerminal = false);
std::string FormatMachinesJson(const std::vector<MachineOutcome>& machines);

// Terminal columns a text takes: combining marks take none, East Asian wide
// and full-width characters two, every other character one.
std::size_t DisplayWidth(std::u16string_view text);

}  // namespace quorvix

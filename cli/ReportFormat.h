// The console report's output formats.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "ReportWindow.h"

namespace quorvix {

// The five column headers and the rows, aligned by display width; control
// characters and bidirectional overrides in cells are shown as U+FFFD, so
// that a name cannot steer the terminal. UTF-8, lines end in "\n".
std::string FormatTable(const std::vector<ReportRow>& rows);

// RFC 4180: a header row, every field quoted, quotes doubled, CRLF line ends; UTF-8.
std::string FormatCsv(const std::vector<ReportRow>& rows);

// A JSON array of objects: user, workstation (the machine), role (null when
// unknown), domain, logonServer, lastLogon (ISO 8601 UTC or null) and
// lastLogonText (the cell as shown). UTF-8.
std::string FormatJson(const std::vector<ReportRow>& rows);

// The account of every machine (--machines): Machine, Role, Entries,
// Outcome, Status, Message; as a table, CSV or JSON like the report.
std::string FormatMachinesTable(const std::vector<MachineOutcome>& machines);
std::string FormatMachinesCsv(const std::vector<MachineOutcome>& machines);
std::string FormatMachinesJson(const std::vector<MachineOutcome>& machines);

// Terminal columns a text takes: combining marks take none, East Asian wide
// and full-width characters two, every other character one.
std::size_t DisplayWidth(std::u16string_view text);

}  // namespace quorvix

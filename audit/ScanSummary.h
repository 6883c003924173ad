// The texts that tell how a scan went: the status panel's progress and end,
// the console's summary line, and the words for each machine's outcome.
// Both desktop windows and the console use them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "AuditScan.h"
#include "ReportWindow.h"

namespace quorvix {

// 2000 -> "2,000".
std::u16string GroupedNumber(std::size_t n);

// "Status: Working... 312 of 2,000 machines".
std::u16string WorkingStatusText(std::size_t done, std::size_t total);

// The status panel's text once a scan that listed the machines has ended:
// "Status: Done", "Status: Done - 57 of 2,000 machines not asked",
// "Status: Stopped - 312 of 2,000 machines asked".
std::u16string EndStatusText(ScanOutcome outcome, const std::vector<MachineOutcome>& machines);

// False for a machine whose entries were not all listed (not asked, timed
// out, partly listed, stopped).
bool FullyAsked(const MachineOutcome& machine);

// "listed", "partly listed", "not asked", "timed out", "stopped".
std::u16string StateText(MachineState state);

// A few words for a status that kept a machine from being asked:
// "no answer" for 53, "access denied" for 5, ...; "error" when none is known.
std::u16string ShortStatusText(int32_t status);

// "57 of 2,000 machines could not be asked: 40 no answer (53), 12 access
// denied (5), 5 timed out"; empty when every machine was fully asked.
std::u16string SummaryText(const std::vector<MachineOutcome>& machines);

// One line per machine not fully asked: "PC017 (Wks): not asked - <message>
// (status 53)", for the machines window and its Copy.
std::u16string UnaskedMachinesText(const std::vector<MachineOutcome>& machines);

}  // namespace quorvix

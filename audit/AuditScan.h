// The logon audit scan.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "NetApi.h"
#include "ReportWindow.h"

namespace quorvix {

enum class ScanOutcome {
  Done,       // every machine was visited; "Status: Done"
  Failed,     // the machine enumeration failed; the message box was shown
  Ignored,    // a scan was already running (started again during its yield)
  Abandoned,  // the program is ending; the scan stopped inside a yield
};

// Audits the domain named by the window's domain text and fills its report.
ScanOutcome RunAuditScan(NetApi& api, ReportWindow& window);

// Optional observers of a scan, for reports that show progress or need the
// status of a failed machine enumeration (the console report).
struct ScanHooks {
  // After each machine has been asked (with or without rows): machines asked
  // so far, and the number of machines in the list.
  std::function<void(std::size_t asked, std::size_t total)> machineAsked;
  // The machine enumeration failed with this status (before the message box).
  std::function<void(int32_t status)> enumerationFailed;
};

// The same scan, telling the hooks how it goes.
ScanOutcome RunAuditScan(NetApi& api, ReportWindow& window, const ScanHooks& hooks);

}  // namespace quorvix

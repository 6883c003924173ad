// The logon audit scan.
#pragma once

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

}  // namespace quorvix

// The logon audit scan.
#pragma once

#include <chrono>
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
  Stopped,    // the user stopped the scan; the rows found so far stay
};

// How hard a scan drives the network.
struct ScanSettings {
  // Machines asked at once; the provider may serve fewer (MaxConcurrentCalls).
  // With 1 the machines are asked one at a time in list order.
  unsigned jobs = 16;
  // A machine not finished within this is given up as timed out; zero: none.
  std::chrono::milliseconds hostTimeout{30000};
};

inline constexpr unsigned kMaxJobs = 256;

// Where a scan stands, for reports that show progress.
struct ScanProgress {
  std::size_t done = 0;   // machines finished, whatever their outcome
  std::size_t total = 0;  // machines in the list
  std::size_t rows = 0;   // rows found so far
};

// Optional observers of a scan, called on the window's thread.
struct ScanHooks {
  // After each machine has finished (with or without rows, or given up).
  std::function<void(const ScanProgress&)> progress;
  // The machine enumeration failed with this status (before the message box).
  std::function<void(int32_t status)> enumerationFailed;
};

// Audits the domain named by the window's domain text and fills its report.
//
// Called on the window's thread, it returns when the scan is over. After the
// controller lookup and the machine list, the machines are asked on worker
// threads; the window's thread only takes their finished work, appends the
// rows and yields, waiting at most a few milliseconds at a time. A machine
// given up (deadline, Stop, the program ending) may still be inside a
// network call when the scan returns: its late answer is dropped, but the
// provider must stay alive until BusyScanWorkers() is zero. Every other
// thread of the scan is done when it returns (and on Windows has ended).
ScanOutcome RunAuditScan(NetApi& api, ReportWindow& window);
ScanOutcome RunAuditScan(NetApi& api, ReportWindow& window, const ScanSettings& settings,
                         const ScanHooks& hooks = {});

// Worker threads of past scans that are still inside a network call.
std::size_t BusyScanWorkers();
// Waits until no worker is left, at most limit; true when none is left.
bool WaitForScanWorkers(std::chrono::milliseconds limit);

}  // namespace quorvix

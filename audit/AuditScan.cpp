#include "AuditScan.h"

#include <atomic>
#include <string>
#include <vector>

#include "LastLogon.h"
#include "basMain.h"
#include "basNetAPI.h"
#include "classNetAPI.h"

namespace quorvix {

namespace {

// One scan at a time in the process. The program has one user-interface
// thread; a start during a scan's yield must not mix two runs' rows. (Atomic
// only so that a scan started from another thread is refused, not a race.)
std::atomic<bool> g_scanRunning{false};

class RunningGuard {
 public:
  RunningGuard() : acquired_(!g_scanRunning.exchange(true)) {}
  ~RunningGuard() {
    if (acquired_) g_scanRunning.store(false);
  }
  RunningGuard(const RunningGuard&) = delete;
  RunningGuard& operator=(const RunningGuard&) = delete;
  bool acquired() const { return acquired_; }

 private:
  bool acquired_;
};

std::u16string EnumerationFailureText(int32_t status) {
  std::u16string text = GetNetErrorText(status);
  if (text.find_first_not_of(u" \t\r\n") == std::u16string::npos) {
    const std::string number = std::to_string(status);
    text = u"The machines of the domain could not be listed: network status " +
           std::u16string(number.begin(), number.end()) + u".";
  }
  return text;
}

}  // namespace

ScanOutcome RunAuditScan(NetApi& api, ReportWindow& window) {
  return RunAuditScan(api, window, ScanHooks{});
}

ScanOutcome RunAuditScan(NetApi& api, ReportWindow& window, const ScanHooks& hooks) {
  RunningGuard guard;
  if (!guard.acquired()) return ScanOutcome::Ignored;

  window.SetStatusText(u"Status: Working...");
  window.ClearRows();
  window.SetMousePointer(MousePointer::Hourglass);
  const std::u16string domain = window.DomainText();

  // One query object for the whole run, released on every way out.
  classNetAPI net(api);

  // A failed lookup leaves the controller name empty and is not reported.
  std::u16string controller;
  net.fnGetPDCName(u"", domain, controller);

  std::vector<std::u16string> machines;
  const int32_t status = net.fnNetServerEnum(domain, -1, machines, false);
  if (status != 0) {
    if (hooks.enumerationFailed) hooks.enumerationFailed(status);
    window.ShowMessage(EnumerationFailureText(status));
    window.SetMousePointer(MousePointer::Default);
    window.SetStatusText(u"Status: Failed");
    return ScanOutcome::Failed;
  }

  const std::size_t machineCount = machines.empty() ? 0 : machines.size() - 1;
  std::vector<LoggedOnUser> entries;  // reused for every machine
  for (std::size_t i = 1; i <= machineCount; ++i) {
    const std::u16string& machine = machines[i];
    if (fnNetWkstaUserEnum(api, machine, entries) == 0) {
      const std::size_t entryCount = entries.empty() ? 0 : entries.size() - 1;
      for (std::size_t j = 1; j <= entryCount; ++j) {
        const LoggedOnUser& entry = entries[j];
        // Every row starts from nothing, so a failed query never shows the
        // role or time of an earlier row.
        std::u16string type;
        net.GetServerType(machine, type);
        const std::u16string& server = entry.LogonServer.empty() ? controller : entry.LogonServer;
        uint32_t seconds = 0;
        const bool known = net.GetLastLogon(server, entry.UserName, seconds) == 0;

        ReportRow row;
        row.user = entry.UserName;
        row.machine = machine;
        row.role = type;
        row.workstation = type.empty() ? machine : machine + u" (" + type + u")";
        row.domain = entry.LogonDomain;
        row.logonServer = entry.LogonServer;
        if (known) {
          row.lastLogon = seconds;
          row.lastLogonText = FormatLastLogon(seconds);
        }
        window.AppendRow(row);
        // The program is ending: stop at once, the window may be gone.
        if (!window.DoEvents()) return ScanOutcome::Abandoned;
      }
    }
    if (hooks.machineAsked) hooks.machineAsked(i, machineCount);
  }

  window.SetMousePointer(MousePointer::Default);
  window.SetStatusText(u"Status: Done");
  return ScanOutcome::Done;
}

}  // namespace quorvix

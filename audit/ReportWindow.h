// What the scan needs of the window that shows its report. The desktop
// program's main window and the console report both implement it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvix {

// One report row. The five cells are the texts the report shows; lastLogon
// keeps the seconds so the report can order that column by time.
struct ReportRow {
  std::u16string user;                // "Username"
  std::u16string machine;             // the machine name alone
  std::u16string role;                // "Wks", "Wks/Srv", "BDC", "PDC" or empty when unknown
  std::u16string workstation;         // "Workstation": "PC017 (Wks)", or the machine alone
  std::u16string domain;              // "Domain": the logon domain
  std::u16string logonServer;         // "Logon Server"
  std::optional<uint32_t> lastLogon;  // seconds since 1970-01-01 UTC, when known
  std::u16string lastLogonText;       // "Last Logon": "dd-mmm-yyyy hh:mm:ss" or empty
  // The row's place in its scan: the machine's place in the machine list,
  // then the entry's place on the machine. Rows whose cells compare equal
  // are shown in this order, whatever order their machines answered in.
  uint64_t sequence = 0;
};

// How asking one machine of a scan ended.
enum class MachineState {
  Listed,        // its entries were listed (possibly none)
  PartlyListed,  // the listing failed after some entries had arrived: those are kept
  NotAsked,      // the machine could not be asked (status says why)
  TimedOut,      // no answer within the per-machine deadline
  Stopped,       // the scan was stopped before the machine was asked or finished
};

struct MachineOutcome {
  std::u16string machine;
  std::u16string role;      // "Wks", "Wks/Srv", "BDC", "PDC", or empty when not known
  std::size_t entries = 0;  // rows the machine gave
  MachineState state = MachineState::Stopped;
  int32_t status = 0;      // the failing status of NotAsked and PartlyListed
  std::u16string message;  // that status's message text, one line
};

enum class MousePointer { Default = 0, Hourglass = 11 };

class ReportWindow {
 public:
  virtual ~ReportWindow() = default;

  virtual void SetStatusText(const std::u16string& text) = 0;  // first status panel
  virtual void ClearRows() = 0;
  virtual void AppendRow(const ReportRow& row) = 0;
  virtual void SetMousePointer(MousePointer pointer) = 0;
  virtual std::u16string DomainText() = 0;  // the domain box's current text
  // A modal message box captioned "Quorvix 2002" with an OK button only.
  virtual void ShowMessage(const std::u16string& text) = 0;
  // Lets the window system process pending messages. Returns false when the
  // program is ending: the scan then stops at once and touches nothing more.
  virtual bool DoEvents() = 0;

  // True once the user has asked to stop the running scan (Escape, Ctrl+C):
  // no further machine is asked and the rows found so far stay.
  virtual bool StopRequested() { return false; }
  // The account of every machine, in machine-list order, once a scan that
  // listed the machines has ended (done or stopped).
  virtual void SetMachineOutcomes(const std::vector<MachineOutcome>& outcomes) {
    static_cast<void>(outcomes);
  }
};

}  // namespace quorvix

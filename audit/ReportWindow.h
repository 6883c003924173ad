// What the scan needs of the window that shows its report. The desktop
// program's main window and the console report both implement it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quorvix {

// One report row. The five cells are the texts the report shows; lastLogon
// keeps the seconds so the report can order that column by time.
struct ReportRow {
  std::u16string user;         // "Username"
  std::u16string machine;      // the machine name alone
  std::u16string role;         // "Wks", "Wks/Srv", "BDC", "PDC" or empty when unknown
  std::u16string workstation;  // "Workstation": "PC017 (Wks)", or the machine alone
  std::u16string domain;       // "Domain": the logon domain
  std::u16string logonServer;  // "Logon Server"
  std::optional<uint32_t> lastLogon;  // seconds since 1970-01-01 UTC, when known
  std::u16string lastLogonText;       // "Last Logon": "dd-mmm-yyyy hh:mm:ss" or empty
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
};

}  // namespace quorvix

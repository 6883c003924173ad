// The native main window: a rebar with the domain box and the start button in
// its first band and the toolbar in its second, the report list (an
// owner-data list view over the shared row store) and the status bar. It is
// the report window the audit scan writes into.
#pragma once

#include <windows.h>
// windows.h first.
#include <commctrl.h>

#include <chrono>
#include <functional>
#include <vector>

#include "AuditScan.h"
#include "NetApi.h"
#include "ReportRows.h"
#include "ReportWindow.h"

namespace quorvix::win32 {

class frmMain : public ReportWindow {
 public:
  frmMain(NetApi& api, bool simulated);
  ~frmMain() override;
  frmMain(const frmMain&) = delete;
  frmMain& operator=(const frmMain&) = delete;

  // Shows the window, modeless. The first call creates and loads it and
  // returns when loading has finished.
  void ShowWindow();
  HWND Handle() const { return hwnd_; }
  bool IsLoaded() const { return loaded_; }
  bool IsScanning() const { return scanning_; }
  ScanOutcome LastScanOutcome() const { return lastOutcome_; }
  const ReportRows& Rows() const { return rows_; }
  const std::vector<MachineOutcome>& Outcomes() const { return outcomes_; }
  // How hard the scans of the start button drive the network.
  void SetScanSettings(const ScanSettings& settings) { settings_ = settings; }

  // Keyboard handling of the window, for every message loop of the program:
  // Escape asks a running scan to stop, Tab moves the focus between the
  // window's controls, and the machines window gets its dialog keys. True
  // when the message was handled.
  bool PreTranslate(MSG& msg);

  // ReportWindow
  void SetStatusText(const std::u16string& text) override;
  void ClearRows() override;
  void AppendRow(const ReportRow& row) override;
  void SetMousePointer(MousePointer pointer) override;
  std::u16string DomainText() override;
  void ShowMessage(const std::u16string& text) override;
  bool DoEvents() override;
  bool StopRequested() override { return stopRequested_; }
  void SetMachineOutcomes(const std::vector<MachineOutcome>& outcomes) override;

  // Control identifiers, for the window's tests.
  static constexpr int kCoolBar1 = 100;
  static constexpr int kBoxDomains = 101;
  static constexpr int kComboDomains = 102;
  static constexpr int kPowerButton = 103;
  static constexpr int kToolbar1 = 104;
  static constexpr int kLvMain = 105;
  static constexpr int kStatusBar1 = 106;
  static constexpr int kExit = 201;
  static constexpr int kAbout = 202;
  static constexpr const wchar_t* kClassName = L"QuorvixMain";
  static constexpr const wchar_t* kBoxClassName = L"QuorvixBox";

  // Longest a running scan keeps the window from being serviced while rows
  // come in quickly, in milliseconds; most rows that wait for the next service.
  static constexpr int kServiceIntervalMs = 16;
  static constexpr size_t kMaxPendingRows = 16384;
  // Under a stream of rows the list itself (its count, its visible rows) is
  // brought up to date at most this often: each update costs the list view
  // a repaint, which would otherwise take most of every frame.
  static constexpr int kListIntervalMs = 100;

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK BoxProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK PowerButtonProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                          DWORD_PTR self);
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
  LRESULT OnNotify(NMHDR* header);

  void Create();
  void Load();
  void ApplyResizeRules();
  void LayoutStatusBar();
  void UpdateClock();
  void ShowSortArrow();
  void FlushRows();
  // Runs reorder, which moves the rows about, and keeps the selected row
  // selected wherever it lands; returns that position, or -1 for none.
  int KeepSelection(const std::function<void()>& reorder);
  void ShowStatusText();
  void ShowMachines();

  void asxPowerButton1_Click();
  void Toolbar1_ButtonClick(int id);
  void lvMain_ColumnClick(int column);

  NetApi& api_;
  bool simulated_;
  HWND hwnd_ = nullptr;
  HWND CoolBar1 = nullptr;
  HWND boxDomains = nullptr;
  HWND comboDomains = nullptr;
  HWND asxPowerButton1 = nullptr;
  HWND Toolbar1 = nullptr;
  HIMAGELIST ImageList1 = nullptr;
  HWND lvMain = nullptr;
  HWND StatusBar1 = nullptr;
  HWND statusTip_ = nullptr;
  HBITMAP powerRest_ = nullptr;
  HBITMAP powerHot_ = nullptr;
  bool powerHot_hover_ = false;

  bool loaded_ = false;
  bool scanning_ = false;
  bool ending_ = false;  // Exit or close: a running scan stops at its next yield
  bool stopRequested_ = false;
  bool busy_ = false;  // the hourglass
  ScanOutcome lastOutcome_ = ScanOutcome::Done;
  ScanSettings settings_;
  ReportRows rows_;
  std::vector<ReportRow> pending_;  // rows not yet handed to the list
  std::vector<MachineOutcome> outcomes_;
  // The domain box's entries and the own domain as the network gave them.
  std::vector<std::u16string> domainNames_;
  std::u16string ownDomain_;
  std::u16string statusText_;
  bool statusDirty_ = false;  // statusText_ is not yet in the panel
  std::wstring statusTipText_;
  std::chrono::steady_clock::time_point serviced_{};
  bool servicedOnce_ = false;
  std::chrono::steady_clock::time_point listUpdated_{};
  bool listUpdatedOnce_ = false;
};

}  // namespace quorvix::win32

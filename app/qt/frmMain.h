// The main window: domain box and start button, toolbar, report list and
// status bar. It is the report window the audit scan writes into.
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <vector>

#include "AuditScan.h"
#include "NetApi.h"
#include "ReportWindow.h"

class QAction;
class QComboBox;
class QLabel;
class QStatusBar;
class QTimer;
class QToolBar;
class QTreeView;

namespace quorvix {

class CoolBar;
class ImageButton;
class ReportModel;

// The window's title; shown on its message boxes as well.
inline constexpr char kAppTitle[] = "Quorvix 2002";

class frmMain : public QWidget, public ReportWindow {
  Q_OBJECT

 public:
  // simulated: the provider answers from a simulated domain, which the title says.
  frmMain(NetApi& api, bool simulated, QWidget* parent = nullptr);
  ~frmMain() override;

  // Shows the window, modeless. The first call loads it; it returns when
  // loading has finished.
  void ShowWindow();
  bool IsLoaded() const { return loaded_; }
  bool IsScanning() const { return scanning_; }
  ScanOutcome LastScanOutcome() const { return lastOutcome_; }
  ReportModel* Model() const { return model_; }
  // How hard the scans of the start button drive the network.
  void SetScanSettings(const ScanSettings& settings) { settings_ = settings; }
  // The account of every machine of the last scan that listed them.
  const std::vector<MachineOutcome>& MachineOutcomes() const { return outcomes_; }
  // Opens the small window that lists the machines the last scan could not
  // fully ask (a double-click on the status panel does the same). Modeless.
  QWidget* ShowMachinesWindow();

  // How "Exit" ends the program; by default the application's event loop is
  // left at once. Tests put a recorder here.
  void SetQuitFunction(std::function<void()> quit) { quit_ = std::move(quit); }
  // How a message box is shown; by default a modal box over this window.
  void SetMessageFunction(std::function<void(const QString&)> show) { message_ = std::move(show); }

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

  // Longest a running scan keeps the window from being serviced while rows
  // come in quickly, in milliseconds.
  static constexpr qint64 kServiceIntervalMs = 16;
  // Most rows that wait for the next service.
  static constexpr size_t kMaxPendingRows = 2048;

 public slots:
  void asxPowerButton1_Click();
  void Toolbar1_ButtonClick(QAction* button);
  void lvMain_ColumnClick(int section);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Load();
  void ApplyResizeRules();
  void DockStatusBar();
  void FlushRows();
  void UpdateClock();
  // The window's outer size for the layout rules: the client area with the
  // classic frame and title bar around it, in pixels.
  QSize OuterSize() const;

  NetApi& api_;
  bool loaded_ = false;
  bool scanning_ = false;
  bool ending_ = false;         // Exit or close: a running scan stops at its next yield
  bool stopRequested_ = false;  // Escape during a scan
  ScanSettings settings_;
  std::vector<MachineOutcome> outcomes_;
  std::u16string ownDomain_;    // as the network named it; the box shows it visible
  QPointer<QWidget> machines_;  // the open list of machines not fully asked
  ScanOutcome lastOutcome_ = ScanOutcome::Done;
  std::vector<ReportRow> pending_;  // rows not yet handed to the list
  QElapsedTimer serviced_;          // since the window was last serviced during a scan
  std::function<void()> quit_;
  std::function<void(const QString&)> message_;

  CoolBar* CoolBar1;
  QWidget* boxDomains;
  QComboBox* comboDomains;
  ImageButton* asxPowerButton1;
  QToolBar* Toolbar1;
  QObject* ImageList1;
  QTreeView* lvMain;
  ReportModel* model_;
  QStatusBar* StatusBar1;
  QLabel* panelStatus_;
  QLabel* panelDate_;
  QLabel* panelTime_;
  QTimer* clock_;
};

}  // namespace quorvix

// The native window under load, under Wine: a scan of a generated domain of
// 100,000 rows into the real main window (press to "Status: Done", every row
// in the list), and header clicks that re-sort those rows (click to the list
// ordered, then to the list painted). Prints the figures; run by hand:
//
//   xvfb-run -a wine build/mingw-release/bench/win32_window_bench.exe [ROWS] [RUNS]
#include <windows.h>
// windows.h first.
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "DesktopProgram.h"
#include "SimulatedNetApi.h"
#include "frmMain.h"

namespace sim = quorvix::sim;
namespace win32 = quorvix::win32;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

HWND Child(HWND main, int id) {
  if (HWND c = GetDlgItem(main, id)) return c;
  HWND bar = GetDlgItem(main, win32::frmMain::kCoolBar1);
  return GetDlgItem(GetDlgItem(bar, win32::frmMain::kBoxDomains), id);
}

// Median, least and most of the times; limit 0: a figure without a target.
void Report(const char* what, std::vector<double> ms, double limit) {
  std::sort(ms.begin(), ms.end());
  std::printf("%-34s median %8.1f ms  min %8.1f  max %8.1f", what, ms[ms.size() / 2], ms.front(),
              ms.back());
  if (limit > 0)
    std::printf("  (target %.0f ms: %s)", limit, ms[ms.size() / 2] < limit ? "met" : "NOT met");
  std::printf("\n");
}

// The same scan into a window that only keeps the rows: the engine and the
// provider alone, for comparison.
class RowsOnly : public quorvix::ReportWindow {
 public:
  void SetStatusText(const std::u16string&) override {}
  void ClearRows() override { rows = 0; }
  void AppendRow(const quorvix::ReportRow&) override { ++rows; }
  void SetMousePointer(quorvix::MousePointer) override {}
  std::u16string DomainText() override { return u""; }
  void ShowMessage(const std::u16string&) override {}
  bool DoEvents() override { return true; }
  size_t rows = 0;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const unsigned rows =
      argc > 1 ? static_cast<unsigned>(std::wcstoul(argv[1], nullptr, 10)) : 100000;
  const int runs = argc > 2 ? static_cast<int>(std::wcstol(argv[2], nullptr, 10)) : 3;
  sim::GeneratorOptions o;
  o.entriesPerMachine = 4;
  o.machines = rows / o.entriesPerMachine;
  sim::SimulatedNetApi api(sim::GenerateDomain(o));
  api.SetLogging(false);

  {
    RowsOnly window;
    const auto start = Clock::now();
    quorvix::RunAuditScan(api, window);
    std::printf("scan without a window: %.1f ms, %zu rows\n", Ms(Clock::now() - start),
                window.rows);
  }

  std::atomic<HWND> mainWindow{nullptr};
  win32::DesktopHooks hooks;
  hooks.mainLoaded = [&](win32::frmMain& m) { mainWindow = m.Handle(); };
  std::vector<double> scans;
  std::vector<double> sorts;
  std::vector<double> sortsPainted;
  long shown = 0;
  std::thread driver([&] {
    while (mainWindow.load() == nullptr) Sleep(10);
    HWND main = mainWindow;
    while (FindWindowW(L"QuorvixSplash", nullptr) != nullptr) Sleep(10);
    HWND list = Child(main, win32::frmMain::kLvMain);
    HWND button = Child(main, win32::frmMain::kPowerButton);
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    SetWindowPos(main, nullptr, 0, 0, 800, 600, SWP_NOMOVE | SWP_NOZORDER);  // every header shows
    for (int r = 0; r < runs; ++r) {
      const auto start = Clock::now();
      SendMessageW(button, BM_CLICK, 0, 0);  // returns when the scan is over
      UpdateWindow(list);
      scans.push_back(Ms(Clock::now() - start));
      shown = static_cast<long>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    }
    for (int r = 0; r < runs; ++r) {
      for (int c = 0; c < 5; ++c) {
        RECT item{};
        SendMessageW(header, HDM_GETITEMRECT, static_cast<WPARAM>(c),
                     reinterpret_cast<LPARAM>(&item));
        const LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
        const auto start = Clock::now();
        SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(header, WM_LBUTTONUP, 0, at);
        sorts.push_back(Ms(Clock::now() - start));
        UpdateWindow(list);
        sortsPainted.push_back(Ms(Clock::now() - start));
      }
    }
    std::vector<double> counts;
    for (int r = 0; r < 5; ++r) {
      const auto start = Clock::now();
      SendMessageW(list, LVM_SETITEMCOUNT, static_cast<WPARAM>(rows), LVSICF_NOSCROLL);
      counts.push_back(Ms(Clock::now() - start));
    }
    Report("LVM_SETITEMCOUNT alone", counts, 0);
    PostMessageW(main, WM_CLOSE, 0, 0);
  });
  win32::RunDesktopProgram(api, true, {}, hooks);
  driver.join();
  quorvix::WaitForScanWorkers(std::chrono::seconds(10));

  std::printf("rows in the list: %ld of %u\n", shown, rows);
  Report("scan into the window", scans, 3000);
  Report("header click: re-sorted", sorts, 300);
  Report("header click: re-sorted, painted", sortsPainted, 300);
  return shown == static_cast<long>(rows) ? 0 : 1;
}

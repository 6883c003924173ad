// Drives the native windows by messages, from a second thread, while the
// program runs on the main thread as it does for the user: the splash, the
// main window's loading and layout, a scan of the demo domain, the header
// ordering (checked against quorvix-scan's own CSV output), the About window,
// the machines window, Escape, closing during a scan and Exit; names with
// hidden characters and typing in the list.
//
//   win32_window_tests EXPECTED_DIR      (sort-COLUMN-asc.csv / -desc.csv)
//   win32_window_tests --screenshots DIR (splash.bmp, main-window.bmp, about.bmp)
//
// Prints one line per check; the exit status is the number of failures.
#include <windows.h>
// windows.h first.
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "DesktopProgram.h"
#include "ReportOrder.h"
#include "ScanSummary.h"
#include "SimulatedNetApi.h"
#include "classNetAPI.h"
#include "frmAbout.h"
#include "frmMachines.h"
#include "frmMain.h"

namespace sim = quorvix::sim;
namespace win32 = quorvix::win32;
using quorvix::classNetAPI;
using quorvix::kReportColumns;
using quorvix::NetApi;
using quorvix::win32::frmMain;
using Clock = std::chrono::steady_clock;

namespace {

int failures = 0;

void Check(bool ok, const std::string& what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
  std::fflush(stdout);
  if (!ok) ++failures;
}

std::string Utf8(const std::wstring& w) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

// Waits up to ms for the condition, looking every 10 ms.
bool WaitFor(const std::function<bool()>& condition, int ms = 10000) {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < end) {
    if (condition()) return true;
    Sleep(10);
  }
  return condition();
}

HWND Child(HWND main, int id) {
  // Controls sit in the main window, the rebar or the domain box.
  if (HWND c = GetDlgItem(main, id)) return c;
  HWND bar = GetDlgItem(main, frmMain::kCoolBar1);
  if (HWND c = GetDlgItem(bar, id)) return c;
  return GetDlgItem(GetDlgItem(bar, frmMain::kBoxDomains), id);
}

std::wstring Text(HWND w) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(w)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(w, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::wstring StatusText(HWND main, int part) {
  wchar_t buffer[512] = L"";
  SendMessageW(Child(main, frmMain::kStatusBar1), SB_GETTEXTW, static_cast<WPARAM>(part),
               reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

RECT WindowRectOf(HWND w) {
  RECT r{};
  GetWindowRect(w, &r);
  return r;
}

// Row i of the list as a CSV record, read back through the list view.
std::string ListRecord(HWND list, int i) {
  std::string record;
  for (int c = 0; c < 5; ++c) {
    wchar_t cell[512] = L"";
    LVITEMW item{};
    item.iSubItem = c;
    item.pszText = cell;
    item.cchTextMax = 512;
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    std::string text = Utf8(cell);
    std::string quoted = "\"";
    for (char ch : text) {
      if (ch == '"') quoted += '"';
      quoted += ch;
    }
    record += (c ? "," : "") + quoted + "\"";
  }
  return record;
}

// The list's rows as CSV records.
std::vector<std::string> ListRecords(HWND list) {
  std::vector<std::string> out;
  const int n = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < n; ++i) out.push_back(ListRecord(list, i));
  return out;
}

// quorvix-scan's CSV output: the records after the header line.
std::vector<std::string> CsvRecords(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> out;
  std::string line;
  bool header = true;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (header) {
      header = false;
      continue;
    }
    if (!line.empty()) out.push_back(line);
  }
  return out;
}

// A real click on a header item: the header reports it to the list, the
// list to the window.
void ClickHeader(HWND list, int column) {
  HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
  RECT r{};
  SendMessageW(header, HDM_GETITEMRECT, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&r));
  const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  SendMessageW(header, WM_MOUSEMOVE, 0, at);
  SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageW(header, WM_LBUTTONUP, 0, at);
}

int SortArrow(HWND list, int column) {
  HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
  HDITEMW item{};
  item.mask = HDI_FORMAT;
  SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
  if (item.fmt & HDF_SORTUP) return 1;
  if (item.fmt & HDF_SORTDOWN) return -1;
  return 0;
}

// Clicks a toolbar button by posting the mouse to it (About runs modal, so
// the click must not wait for it).
void ClickToolbar(HWND main, int command) {
  HWND toolbar = Child(main, frmMain::kToolbar1);
  const int index = static_cast<int>(SendMessageW(toolbar, TB_COMMANDTOINDEX, command, 0));
  RECT r{};
  SendMessageW(toolbar, TB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&r));
  const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  PostMessageW(toolbar, WM_MOUSEMOVE, 0, at);
  PostMessageW(toolbar, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(toolbar, WM_LBUTTONUP, 0, at);
}

HWND FindAbout(HWND main) {
  HWND about = FindWindowW(L"#32770", L"About");
  return about != nullptr && GetWindow(about, GW_OWNER) == main ? about : nullptr;
}

// Saves what the screen shows of a window as a 24-bit bitmap file.
bool SaveWindowPicture(HWND w, const std::wstring& path) {
  const RECT r = WindowRectOf(w);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP picture = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, picture);
  BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) & ~3u);
  const DWORD size = stride * static_cast<DWORD>(height);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  file.bfSize = file.bfOffBits + size;
  std::ofstream out(path.c_str(), std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof(BITMAPINFOHEADER));
  out.write(static_cast<const char*>(bits), size);
  SelectObject(memory, old);
  DeleteObject(picture);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return out.good();
}

// One run of the program on the main thread, driven by `drive` on a second
// thread once the main window has loaded. Returns the program's exit status,
// or -1 when the run did not end within the time allowed.
struct Run {
  std::atomic<HWND> main{nullptr};
  std::atomic<frmMain*> window{nullptr};
  std::atomic<Clock::time_point> splashShown{};
  std::atomic<Clock::time_point> splashGone{};
};

int RunProgram(NetApi& api, Run& run, const std::function<void(Run&)>& drive) {
  win32::DesktopHooks hooks;
  hooks.splashShown = [&](HWND) { run.splashShown = Clock::now(); };
  hooks.splashGone = [&] { run.splashGone = Clock::now(); };
  hooks.mainLoaded = [&](frmMain& m) {
    run.window = &m;
    run.main = m.Handle();
  };
  std::atomic<bool> ended{false};
  std::thread driver([&] {
    if (!WaitFor([&] { return run.main.load() != nullptr; })) {
      Check(false, "the main window loads");
      return;
    }
    drive(run);
    // Whatever the checks did, the run ends here.
    if (!WaitFor([&] { return ended.load(); }, 20000) && IsWindow(run.main.load()))
      PostMessageW(run.main.load(), WM_CLOSE, 0, 0);
  });
  const int rc = win32::RunDesktopProgram(api, true, {}, hooks);
  ended = true;
  driver.join();
  return rc;
}

sim::SimDomain Demo() {
  return sim::DemoDomain();
}

void MainWindowChecks(Run& run, const std::string& expectedDir) {
  HWND main = run.main;
  // The splash goes right after the main window's loading has returned.
  WaitFor([&] { return run.splashGone.load() != Clock::time_point{}; }, 3000);
  const auto shown = std::chrono::duration_cast<std::chrono::milliseconds>(run.splashGone.load() -
                                                                           run.splashShown.load());
  // A busy machine may be late by a few hundred milliseconds; a splash that
  // waited for anything but its timer would be seconds off.
  Check(shown.count() >= 1000 && shown.count() <= 1500,
        "the splash shows for one second: " + std::to_string(shown.count()) + " ms");

  // Loading: the domain box holds the visible domains, its text the own domain.
  sim::SimulatedNetApi reference(Demo());
  classNetAPI net(reference);
  std::u16string own;
  net.fnGetDomainName(own);
  std::vector<std::u16string> domains;
  net.fnNetServerEnum(own, static_cast<int32_t>(quorvix::SV_TYPE_DOMAIN_ENUM), domains, false);
  HWND combo = Child(main, frmMain::kComboDomains);
  const int count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
  bool same = count == static_cast<int>(domains.size()) - 1;
  for (int i = 0; same && i < count; ++i) {
    wchar_t entry[256] = L"";
    SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(entry));
    same = std::wstring(domains[static_cast<size_t>(i) + 1].begin(),
                        domains[static_cast<size_t>(i) + 1].end()) == entry;
  }
  Check(same && count > 0, "loading fills the domain box in the enumeration's order");
  Check(Text(combo) == std::wstring(own.begin(), own.end()), "the box's text is the own domain");
  Check(StatusText(main, 0) == L"Status: Done", "loading ends at \"Status: Done\"");
  Check(!StatusText(main, 1).empty() && !StatusText(main, 2).empty(),
        "the status bar shows the date and the time");
  RECT client{};
  GetClientRect(main, &client);
  Check(client.right == 452 && client.bottom == 446, "client area 452 x 446");
  const RECT outer = WindowRectOf(main);
  const int screenW = GetSystemMetrics(SM_CXSCREEN);
  const int screenH = GetSystemMetrics(SM_CYSCREEN);
  Check(std::abs(outer.left - (screenW - (outer.right - outer.left)) / 2) <= 1 &&
            std::abs(outer.top - (screenH - (outer.bottom - outer.top)) / 2) <= 1,
        "the window is centred by its outer size");
  HWND list = Child(main, frmMain::kLvMain);
  Check((GetWindowLongW(list, GWL_STYLE) & LVS_OWNERDATA) != 0 &&
            (SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_FULLROWSELECT) != 0,
        "the report list is an owner-data list with full-row selection");
  const int listWidth = WindowRectOf(list).right - WindowRectOf(list).left;
  bool quarter = true;
  for (int c = 0; c < 5; ++c)
    quarter = quarter &&
              SendMessageW(list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(c), 0) == listWidth / 4;
  Check(quarter, "five columns, each a quarter of the list's width");
  Check(SortArrow(list, 0) == 1, "the sort arrow: Username, ascending");

  // Resizing applies the rules to the outer size (in pixels here: twips / 15).
  SetWindowPos(main, nullptr, 0, 0, 700, 500, SWP_NOMOVE | SWP_NOZORDER);
  auto size = [](HWND w) {
    const RECT r = WindowRectOf(w);
    return SIZE{r.right - r.left, r.bottom - r.top};
  };
  HWND button = Child(main, frmMain::kPowerButton);
  auto buttonLeft = [&] {
    POINT p{WindowRectOf(button).left, 0};
    ScreenToClient(GetParent(button), &p);
    return p.x;
  };
  Check(size(list).cx == 692 && size(list).cy == 390 &&
            size(Child(main, frmMain::kCoolBar1)).cx == 692 && size(combo).cx == 640 &&
            buttonLeft() == 650,
        "a resize to 700 x 500 lays the controls out by the rules");
  SetWindowPos(main, nullptr, 0, 0, 300, 100, SWP_NOMOVE | SWP_NOZORDER);
  Check(size(list).cx == 292 && size(list).cy == 390 && size(combo).cx == 240,
        "too low for the list: its height stays, the other rules apply");
  // Wide enough to show every column's header for the clicks below.
  SetWindowPos(main, nullptr, 0, 0, 700, 500, SWP_NOMOVE | SWP_NOZORDER);

  // Start: the demo domain's report, in quorvix-scan's order.
  SendMessageW(button, BM_CLICK, 0, 0);  // returns when the scan is over
  Check(StatusText(main, 0).rfind(L"Status: Done", 0) == 0, "the scan ends at \"Status: Done\"");
  const std::vector<std::string> byUser = CsvRecords(expectedDir + "/sort-Username-asc.csv");
  Check(!byUser.empty() && ListRecords(list) == byUser,
        "the list holds the demo report's rows in quorvix-scan's order (" +
            std::to_string(byUser.size()) + " rows)");

  // Header clicks: the clicked column becomes the key and the direction flips.
  bool descending = false;
  for (int pass = 0; pass < 2; ++pass) {
    for (int c = 0; c < 5; ++c) {
      ClickHeader(list, c);
      descending = !descending;
      const std::string name = Utf8(
          std::wstring(kReportColumns[c],
                       kReportColumns[c] + std::char_traits<char16_t>::length(kReportColumns[c])));
      const std::string file =
          expectedDir + "/sort-" + name + (descending ? "-desc" : "-asc") + ".csv";
      const std::vector<std::string> expected = CsvRecords(file);
      Check(!expected.empty() && ListRecords(list) == expected &&
                SortArrow(list, c) == (descending ? -1 : 1),
            "header click on " + name + (descending ? ", descending" : ", ascending") +
                ": quorvix-scan's order and the arrow");
    }
  }

  // About: modal over the main window; Alt+C closes it, so does a click on the banner.
  for (int way = 0; way < 2; ++way) {
    ClickToolbar(main, frmMain::kAbout);
    HWND about = nullptr;
    WaitFor([&] { return (about = FindAbout(main)) != nullptr && IsWindowVisible(about); });
    if (about == nullptr) {
      Check(false, "About opens");
      break;
    }
    RECT aboutClient{};
    GetClientRect(about, &aboutClient);
    HWND close = GetDlgItem(about, win32::frmAbout::kCmdClose);
    Check(!IsWindowEnabled(main) && aboutClient.right == 417 && aboutClient.bottom == 399 &&
              Text(close) == L"&Close" &&
              (GetWindowLongW(close, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON &&
              (GetWindowLongW(about, GWL_STYLE) & WS_SYSMENU) == 0,
          "About opens modal, 417 x 399, \"&Close\" the default button, no system menu");
    if (way == 0) {
      PostMessageW(about, WM_SYSKEYDOWN, 'C', 1 << 29);
      PostMessageW(about, WM_SYSCHAR, 'c', 1 << 29);
      PostMessageW(about, WM_SYSKEYUP, 'C', (1 << 29) | (3u << 30));
    } else {
      HWND banner = GetDlgItem(about, win32::frmAbout::kImage2);
      PostMessageW(banner, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 50));
      PostMessageW(banner, WM_LBUTTONUP, 0, MAKELPARAM(100, 50));
    }
    Check(WaitFor([&] { return !IsWindow(about) && IsWindowEnabled(main); }, 5000),
          way == 0 ? "Alt+C closes About" : "a click on the banner closes About");
  }

  // Exit ends the program (the caller checks that the run returned).
  ClickToolbar(main, frmMain::kExit);
}

// A domain slow enough to act on while its scan runs.
sim::SimDomain SlowDomain(uint32_t latencyMicros = 20000, uint32_t machines = 400) {
  sim::GeneratorOptions o;
  o.machines = machines;
  o.entriesPerMachine = 3;
  o.latencyMicros = latencyMicros;
  return sim::GenerateDomain(o);
}

void StartScan(HWND main) {
  PostMessageW(Child(main, frmMain::kPowerButton), BM_CLICK, 0, 0);
}

bool Working(HWND main) {
  const std::wstring status = StatusText(main, 0);
  return status.rfind(L"Status: Working... ", 0) == 0 &&
         status.find(L" of ") != std::wstring::npos &&
         status.rfind(L"Status: Working... 0 of", 0) != 0;
}

void StopChecks(Run& run) {
  HWND main = run.main;
  StartScan(main);
  Check(WaitFor([&] { return Working(main); }), "the scan shows its progress in the first panel");
  // A row selected during the scan stays selected while later rows take
  // their places above it.
  HWND list = Child(main, frmMain::kLvMain);
  auto count = [&] { return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); };
  WaitFor([&] { return count() > 0; });
  const int last = count() - 1;
  LVITEMW pick{};
  pick.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  pick.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(last), reinterpret_cast<LPARAM>(&pick));
  auto selectedRow = [&] {
    return static_cast<int>(
        SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  };
  // Rows only come in: a row whose place did not change between two looks was
  // the one read in between.
  std::string chosen;
  for (int before = -2, after = -1; before != after;) {
    before = selectedRow();
    chosen = before >= 0 ? ListRecord(list, before) : "";
    after = selectedRow();
  }
  WaitFor([&] { return count() > last + 100; });
  // Escape in the list asks the scan to stop; the rows found so far stay.
  PostMessageW(list, WM_KEYDOWN, VK_ESCAPE, 1);
  const bool stopped =
      WaitFor([&] { return StatusText(main, 0).rfind(L"Status: Stopped", 0) == 0; });
  Check(stopped, "Escape stops the scan: \"" + Utf8(StatusText(main, 0)) + "\"");
  const int selected = selectedRow();
  Check(!chosen.empty() && selected >= 0 && ListRecord(list, selected) == chosen,
        "a row selected during the scan stays selected as rows arrive: " + chosen + " at " +
            std::to_string(last) + ", then " + std::to_string(selected));
  frmMain* window = run.window;
  const size_t rows = window->Rows().Size();
  Check(rows > 0 && rows < 4800 && window->LastScanOutcome() == quorvix::ScanOutcome::Stopped,
        "the rows found before the stop stay: " + std::to_string(rows));

  // A double-click on the first panel lists the machines not asked.
  HWND status = Child(main, frmMain::kStatusBar1);
  RECT part{};
  SendMessageW(status, SB_GETRECT, 0, reinterpret_cast<LPARAM>(&part));
  const LPARAM at = MAKELPARAM(part.left + 20, (part.top + part.bottom) / 2);
  PostMessageW(status, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(status, WM_LBUTTONUP, 0, at);
  PostMessageW(status, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
  PostMessageW(status, WM_LBUTTONUP, 0, at);
  const std::u16string expected = quorvix::UnaskedMachinesText(window->Outcomes());
  std::wstring lines;
  for (char16_t c : expected) {
    if (c == u'\n') lines += L'\r';
    lines += static_cast<wchar_t>(c);
  }
  // The window is found as soon as it is made, before its text is in.
  HWND machines = nullptr;
  std::wstring listed;
  WaitFor([&] {
    machines = FindWindowW(win32::frmMachines::kClassName, nullptr);
    listed = machines ? Text(GetDlgItem(machines, win32::frmMachines::kText)) : L"";
    return listed == lines;
  });
  Check(machines != nullptr && !expected.empty() && listed == lines,
        "a double-click on the first panel lists the machines not asked");
  // "&Copy" puts the list on the clipboard.
  if (machines != nullptr) {
    SendMessageW(GetDlgItem(machines, win32::frmMachines::kCopy), BM_CLICK, 0, 0);
    std::wstring copied;
    if (OpenClipboard(nullptr)) {
      if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* text = static_cast<const wchar_t*>(GlobalLock(data))) {
          copied = text;
          GlobalUnlock(data);
        }
      }
      CloseClipboard();
    }
    Check(copied == listed, "\"&Copy\" copies the list");
    PostMessageW(machines, WM_COMMAND, win32::frmMachines::kClose, 0);
  }
  PostMessageW(main, WM_CLOSE, 0, 0);
}

// Names with a direction override and a zero-width space, as a hostile
// network may give them.
sim::SimDomain HiddenCharacters() {
  using quorvix::SV_TYPE_DOMAIN_CTRL, quorvix::SV_TYPE_SERVER, quorvix::SV_TYPE_WORKSTATION;
  sim::SimDomain d;
  d.computerName = u"PC01";
  d.localDomain = u"HQ\u200B";
  d.domains = {{u"HQ\u200B", u"PDC01"}, {u"LAB\u202E", u"LAB01"}};
  sim::SimMachine pdc;
  pdc.name = u"PDC01";
  pdc.domain = u"HQ\u200B";
  pdc.type = SV_TYPE_WORKSTATION | SV_TYPE_SERVER | SV_TYPE_DOMAIN_CTRL;
  for (const char16_t* user : {u"carl", u"ann\u202Etxt.exe", u"Bob"})
    pdc.sessions.push_back({user, u"HQ", u"", u"\\\\PDC01"});
  sim::SimMachine lab = pdc;
  lab.name = u"LAB01";
  lab.domain = u"LAB\u202E";
  lab.sessions = {{u"dora", u"LAB", u"", u""}};
  d.machines = {pdc, lab};
  return d;
}

// Presses start and waits for the scan's end; a message box (a domain that
// could not be listed) is closed and counts as a failed scan.
bool Scan(HWND main) {
  std::atomic<bool> done{false}, box{false};
  std::thread closer([&] {
    while (!done) {
      HWND found = FindWindowW(L"#32770", nullptr);
      if (found != nullptr && GetWindow(found, GW_OWNER) == main) {
        box = true;
        PostMessageW(found, WM_COMMAND, IDOK, 0);
      }
      Sleep(50);
    }
  });
  SendMessageW(Child(main, frmMain::kPowerButton), BM_CLICK, 0, 0);
  done = true;
  closer.join();
  return !box;
}

// The shown text of the first column of each row.
std::vector<std::wstring> ShownUsers(HWND list) {
  std::vector<std::wstring> users;
  const int n = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < n; ++i) {
    wchar_t cell[256] = L"";
    LVITEMW item{};
    item.pszText = cell;
    item.cchTextMax = 256;
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    users.push_back(cell);
  }
  return users;
}

void HiddenCharacterChecks(Run& run) {
  HWND main = run.main;
  HWND combo = Child(main, frmMain::kComboDomains);
  HWND list = Child(main, frmMain::kLvMain);
  std::vector<std::wstring> entries;
  for (int i = 0; i < static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0)); ++i) {
    wchar_t entry[256] = L"";
    SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(entry));
    entries.push_back(entry);
  }
  Check(
      entries == std::vector<std::wstring>{L"HQ\uFFFD", L"LAB\uFFFD"} && Text(combo) == L"HQ\uFFFD",
      "the domain box shows hidden characters of the domains' names as U+FFFD");

  // The own domain's name as shown is scanned by its own name.
  const bool listed = Scan(main);
  std::vector<std::wstring> users = ShownUsers(list);
  std::sort(users.begin(), users.end());
  bool raw = false;
  const quorvix::ReportRows& rows = run.window.load()->Rows();
  for (size_t i = 0; i < rows.Size(); ++i) raw = raw || rows.RowAt(i).user == u"ann\u202Etxt.exe";
  Check(listed && raw && users == std::vector<std::wstring>{L"Bob", L"ann\uFFFDtxt.exe", L"carl"},
        "the report shows hidden characters of the cells as U+FFFD, and the own domain is "
        "scanned by its name");

  // Typing in the list selects the next row whose user begins with the
  // letters typed, and a letter that begins none leaves the selection.
  auto selected = [&] {
    return static_cast<int>(
        SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  };
  const std::vector<std::wstring> shown = ShownUsers(list);
  const int carl = static_cast<int>(std::find(shown.begin(), shown.end(), L"carl") - shown.begin());
  SendMessageW(list, WM_CHAR, 'C', 1);
  const int typed = selected();
  Sleep(1000);  // a new search, not "cz"
  SendMessageW(list, WM_CHAR, 'z', 1);
  Check(carl != 0 && typed == carl && selected() == carl,
        "typing in the list selects the row of the letter typed (" + std::to_string(typed) +
            ", then " + std::to_string(selected()) + ", \"carl\" at " + std::to_string(carl) + ")");

  SendMessageW(combo, CB_SETCURSEL, 1, 0);
  Check(Scan(main) && ShownUsers(list) == std::vector<std::wstring>{L"dora"},
        "a domain picked from the box is scanned by its name");
  PostMessageW(main, WM_CLOSE, 0, 0);
}

void CloseDuringScanChecks(Run& run) {
  HWND main = run.main;
  StartScan(main);
  WaitFor([&] { return Working(main); });
  PostMessageW(main, WM_CLOSE, 0, 0);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: win32_window_tests EXPECTED_DIR | --screenshots DIR\n");
    return 2;
  }
  win32::InitControls();
  const bool screenshots = std::wstring(argv[1]) == L"--screenshots" && argc >= 3;

  if (screenshots) {
    const std::wstring dir = argv[2];
    sim::SimulatedNetApi api(Demo());
    Run run;
    HWND splash = nullptr;
    std::thread shooter;
    win32::DesktopHooks hooks;
    hooks.splashShown = [&](HWND s) {
      splash = s;
      shooter = std::thread([&, s] {
        Sleep(500);
        Check(SaveWindowPicture(s, dir + L"/splash.bmp"), "picture of the splash");
      });
    };
    hooks.mainLoaded = [&](frmMain& m) { run.main = m.Handle(); };
    std::thread driver([&] {
      WaitFor([&] { return run.main.load() != nullptr; });
      HWND main = run.main;
      WaitFor([&] { return FindWindowW(L"QuorvixSplash", nullptr) == nullptr; }, 3000);
      SendMessageW(Child(main, frmMain::kPowerButton), BM_CLICK, 0, 0);
      Sleep(500);
      Check(SaveWindowPicture(main, dir + L"/main-window.bmp"), "picture of the main window");
      ClickToolbar(main, frmMain::kAbout);
      HWND about = nullptr;
      WaitFor([&] { return (about = FindAbout(main)) != nullptr && IsWindowVisible(about); });
      Sleep(500);
      Check(about && SaveWindowPicture(about, dir + L"/about.bmp"), "picture of About");
      if (!about) SaveWindowPicture(GetDesktopWindow(), dir + L"/screen.bmp");
      if (about) PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      WaitFor([&] { return IsWindowEnabled(main) != FALSE; }, 3000);
      PostMessageW(main, WM_CLOSE, 0, 0);
    });
    win32::RunDesktopProgram(api, true, {}, hooks);
    driver.join();
    if (shooter.joinable()) shooter.join();
    return failures;
  }

  const std::string expectedDir = Utf8(argv[1]);
  {
    sim::SimulatedNetApi api(Demo());
    Run run;
    const int rc = RunProgram(api, run, [&](Run& r) { MainWindowChecks(r, expectedDir); });
    Check(rc == 0, "Exit ends the program with status 0");
  }

  {
    sim::SimulatedNetApi api(HiddenCharacters());
    Run run;
    RunProgram(api, run, HiddenCharacterChecks);
  }

  {
    // Slow enough that a row can be picked and later rows come in before
    // Escape, and long enough (half a minute) that Escape comes before the
    // end on a busy machine too.
    sim::SimulatedNetApi api(SlowDomain(80000, 1600));
    api.SetLogging(false);
    Run run;
    RunProgram(api, run, StopChecks);
    quorvix::WaitForScanWorkers(std::chrono::seconds(10));
  }
  {
    sim::SimulatedNetApi api(SlowDomain());
    api.SetLogging(false);
    Run run;
    const auto start = Clock::now();
    std::atomic<Clock::time_point> closed{};
    const int rc = RunProgram(api, run, [&](Run& r) {
      CloseDuringScanChecks(r);
      closed = Clock::now();
    });
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - closed.load());
    Check(rc == 0 && took.count() < 1000 && Clock::now() - start < std::chrono::seconds(20),
          "closing the window during a scan ends the program: " + std::to_string(took.count()) +
              " ms");
    quorvix::WaitForScanWorkers(std::chrono::seconds(10));
  }

  {
    // The domains are asked off the window's thread, which keeps the splash
    // serviced meanwhile: a large directory takes long to read.
    class SlowDomains : public sim::SimulatedNetApi {
     public:
      using SimulatedNetApi::SimulatedNetApi;
      quorvix::NET_API_STATUS NetServerEnum(quorvix::LPCWSTR server, quorvix::DWORD level,
                                            quorvix::LPBYTE* buf, quorvix::DWORD pref,
                                            quorvix::LPDWORD read, quorvix::LPDWORD total,
                                            quorvix::DWORD type, quorvix::LPCWSTR domain,
                                            quorvix::LPDWORD resume) override {
        if (type == quorvix::SV_TYPE_DOMAIN_ENUM) {
          HWND splash = FindWindowW(L"QuorvixSplash", nullptr);
          DWORD_PTR answer = 0;
          serviced = GetCurrentThreadId() != windowThread && splash != nullptr &&
                     SendMessageTimeoutW(splash, WM_NULL, 0, 0, SMTO_BLOCK, 5000, &answer) != 0;
        }
        return SimulatedNetApi::NetServerEnum(server, level, buf, pref, read, total, type, domain,
                                              resume);
      }
      DWORD windowThread = GetCurrentThreadId();
      std::atomic<bool> serviced{false};
    };
    SlowDomains api(Demo());
    Run run;
    RunProgram(api, run, [](Run& r) { PostMessageW(r.main, WM_CLOSE, 0, 0); });
    Check(api.serviced, "the domains are asked while the splash is serviced");
  }

  std::printf("%d failure(s)\n", failures);
  return failures;
}

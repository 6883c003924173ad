#include "frmMain.h"

#include <commctrl.h>

#include <process.h>

#include <algorithm>
#include <optional>

#include "DomainBox.h"
#include "ReportOrder.h"
#include "ReportText.h"
#include "ResizeRules.h"
#include "Resources.h"
#include "ScanSummary.h"
#include "TerminalText.h"
#include "Win32Ui.h"
#include "WindowTexts.h"
#include "frmAbout.h"
#include "frmMachines.h"

namespace quorvix::win32 {

namespace {

constexpr UINT_PTR kClockTimer = 1;
constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;

HMENU Id(int id) {
  return reinterpret_cast<HMENU>(static_cast<INT_PTR>(id));
}

void Resize(HWND control, int width, int height) {
  SetWindowPos(control, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

SIZE ControlSize(HWND control) {
  RECT r{};
  GetWindowRect(control, &r);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

int TextWidth(HWND control, const wchar_t* text) {
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
  SIZE size{};
  GetTextExtentPoint32W(dc, text, lstrlenW(text), &size);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return size.cx;
}

void RegisterClasses(HINSTANCE instance, WNDPROC mainProc, WNDPROC boxProc) {
  static bool done = false;
  if (done) return;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = mainProc;
  wc.hInstance = instance;
  wc.hIcon = ProgramIcon(32);
  wc.hIconSm = ProgramIcon(16);
  wc.hCursor = SystemCursor(false);
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = frmMain::kClassName;
  RegisterClassExW(&wc);
  wc.lpfnWndProc = boxProc;
  wc.hIcon = nullptr;
  wc.hIconSm = nullptr;
  wc.lpszClassName = frmMain::kBoxClassName;
  RegisterClassExW(&wc);
  done = true;
}

}  // namespace

frmMain::frmMain(NetApi& api, bool simulated) : api_(api), simulated_(simulated) {}

frmMain::~frmMain() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  if (ImageList1 != nullptr) ImageList_Destroy(ImageList1);
  if (powerRest_ != nullptr) DeleteObject(powerRest_);
  if (powerHot_ != nullptr) DeleteObject(powerHot_);
}

void frmMain::ShowWindow() {
  if (!loaded_) {
    Load();
    return;
  }
  if (hwnd_ != nullptr) ::ShowWindow(hwnd_, SW_SHOW);
}

void frmMain::Create() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterClasses(instance, WndProc, BoxProc);

  // Client area 6780 x 6690 twips; the outer size adds the frame and title bar.
  RECT frame{0, 0, Px(6780), Px(6690)};
  AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
  hwnd_ = CreateWindowExW(0, kClassName, W(simulated_ ? kSimulatedTitle : kAppTitle16), kStyle,
                          CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                          frame.bottom - frame.top, nullptr, nullptr, instance, this);
  if (hwnd_ == nullptr) return;

  // The rebar: band 1 holds the domain box and the start button, band 2 the toolbar.
  CoolBar1 =
      CreateWindowExW(WS_EX_TOOLWINDOW, REBARCLASSNAMEW, nullptr,
                      WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | RBS_VARHEIGHT |
                          RBS_BANDBORDERS | CCS_NODIVIDER | CCS_NORESIZE | CCS_NOPARENTALIGN,
                      0, 0, Px(6735), Px(915), hwnd_, Id(kCoolBar1), instance, nullptr);
  REBARINFO bar{};
  bar.cbSize = sizeof bar;
  SendMessageW(CoolBar1, RB_SETBARINFO, 0, reinterpret_cast<LPARAM>(&bar));

  boxDomains = CreateWindowExW(0, kBoxClassName, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
                               Px(6480), Px(495), CoolBar1, Id(kBoxDomains), instance, nullptr);
  comboDomains = CreateWindowExW(
      0, WC_COMBOBOXW, L"",
      WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL, 0, Px(90),
      Px(6015), 200, boxDomains, Id(kComboDomains), instance, nullptr);
  powerRest_ = ResourceBitmap(IDB_POWER_REST);
  powerHot_ = ResourceBitmap(IDB_POWER_HOT);
  asxPowerButton1 =
      CreateWindowExW(0, WC_BUTTONW, L"Start", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW,
                      Px(6120), Px(120), 17, 17, boxDomains, Id(kPowerButton), instance, nullptr);
  SetWindowSubclass(asxPowerButton1, PowerButtonProc, 1, reinterpret_cast<DWORD_PTR>(this));

  REBARBANDINFOW band{};
  band.cbSize = sizeof band;
  band.fMask = RBBIM_STYLE | RBBIM_CHILD | RBBIM_CHILDSIZE | RBBIM_SIZE;
  band.fStyle = RBBS_GRIPPERALWAYS;
  band.hwndChild = boxDomains;
  band.cyMinChild = Px(495);
  band.cx = Px(615);
  SendMessageW(CoolBar1, RB_INSERTBANDW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&band));

  Toolbar1 =
      CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr,
                      WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_LIST | TBSTYLE_TOOLTIPS |
                          CCS_NORESIZE | CCS_NODIVIDER | CCS_NOPARENTALIGN,
                      0, 0, Px(6480), Px(330), CoolBar1, Id(kToolbar1), instance, nullptr);
  SendMessageW(Toolbar1, TB_SETPARENT, reinterpret_cast<WPARAM>(hwnd_), 0);
  SendMessageW(Toolbar1, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  ImageList1 = ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, 3, 0);
  for (int id : {IDB_TOOLBAR_1, IDB_TOOLBAR_2, IDB_TOOLBAR_3}) {
    HBITMAP picture = ResourceBitmap(id);
    ImageList_AddMasked(ImageList1, picture, RGB(192, 192, 192));
    DeleteObject(picture);
  }
  SendMessageW(Toolbar1, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(ImageList1));
  TBBUTTON buttons[2]{};
  for (int i = 0; i < 2; ++i) {
    buttons[i].iBitmap = kToolbarButtons[i].image - 1;
    buttons[i].idCommand = i == 0 ? kExit : kAbout;
    buttons[i].fsState = TBSTATE_ENABLED;
    buttons[i].fsStyle = BTNS_BUTTON;
    buttons[i].iString = reinterpret_cast<INT_PTR>(W(kToolbarButtons[i].key));
  }
  SendMessageW(Toolbar1, TB_ADDBUTTONSW, 2, reinterpret_cast<LPARAM>(buttons));
  SendMessageW(Toolbar1, TB_SETBUTTONWIDTH, 0, MAKELPARAM(Px(840), Px(840)));
  SendMessageW(Toolbar1, TB_SETBUTTONSIZE, 0, MAKELPARAM(Px(840), Px(330)));

  band.fStyle = RBBS_BREAK | RBBS_GRIPPERALWAYS;
  band.hwndChild = Toolbar1;
  band.cyMinChild = Px(330);
  band.cx = Px(3735);
  SendMessageW(CoolBar1, RB_INSERTBANDW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&band));

  lvMain = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                           WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | LVS_REPORT |
                               LVS_OWNERDATA | LVS_SHOWSELALWAYS | LVS_SINGLESEL,
                           0, Px(960), Px(6735), Px(5415), hwnd_, Id(kLvMain), instance, nullptr);

  StatusBar1 = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0,
                               0, 0, 0, hwnd_, Id(kStatusBar1), instance, nullptr);
  statusTip_ =
      CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                      WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                      CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, instance, nullptr);
  statusTipText_ = W(kStatusPanelTip);
  TTTOOLINFOW tip{};
  tip.cbSize = sizeof tip;
  tip.uFlags = TTF_SUBCLASS;
  tip.hwnd = StatusBar1;
  tip.uId = 1;
  tip.lpszText = statusTipText_.data();
  SendMessageW(statusTip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tip));

  SetFontOfTree(hwnd_, WindowFont());
  SendMessageW(statusTip_, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont()), FALSE);
  LayoutStatusBar();  // the three panels, before their texts
  SetStatusText(kStatusInitial);
  UpdateClock();
  SetTimer(hwnd_, kClockTimer, 1000, nullptr);

  // The outer size the rules see is the real one from here on.
  RECT client{};
  GetClientRect(hwnd_, &client);
  SendMessageW(hwnd_, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
}

namespace {

// The own domain, then the domains it sees, for loading. Asked on a thread
// of their own: on a real network the directory behind them may take long
// to read (a large domain, a distant controller), and the windows already
// shown (the splash screen) stay painted meanwhile.
struct DomainQuestion {
  NetApi& api;
  DomainList asked;

  void Ask() { asked = AskDomains(api); }

  static unsigned __stdcall Run(void* self) {
    static_cast<DomainQuestion*>(self)->Ask();
    return 0;
  }

  // Asks on a thread while this one services its windows' painting, timers
  // and sent messages; input waits until loading is over, and an end of
  // the program asked meanwhile is passed on to the program's loop.
  void AskWhileServiced() {
    const auto thread =
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &Run, this, 0, nullptr));
    if (thread == nullptr) {
      Ask();  // no thread to be had: asked here
      return;
    }
    constexpr UINT kServiced = QS_PAINT | QS_POSTMESSAGE | QS_SENDMESSAGE | QS_TIMER;
    std::optional<WPARAM> quit;
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, kServiced) == WAIT_OBJECT_0 + 1) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0,
                          PM_REMOVE | PM_QS_PAINT | PM_QS_POSTMESSAGE | PM_QS_SENDMESSAGE)) {
        if (msg.message == WM_QUIT) {
          quit = msg.wParam;
          continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    if (quit) PostQuitMessage(static_cast<int>(*quit));
  }
};

}  // namespace

void frmMain::Load() {
  loaded_ = true;
  Create();
  if (hwnd_ == nullptr) return;
  ApplyResizeRules();  // the list gets its final width before its columns

  const SIZE outer = OuterSize(hwnd_);
  const RECT screen = ScreenArea();
  const WindowOrigin at = CentredOrigin(screen.left, screen.top, screen.right - screen.left,
                                        screen.bottom - screen.top, outer.cx, outer.cy);
  SetWindowPos(hwnd_, nullptr, at.left, at.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

  SetStatusText(kStatusWorking);

  while (SendMessageW(lvMain, LVM_DELETECOLUMN, 0, 0)) {
  }
  const int columnWidth = ControlSize(lvMain).cx / 4;
  for (int c = 0; c < 5; ++c) {
    std::wstring header = W(kReportColumns[c]);
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = columnWidth;
    column.pszText = header.data();
    column.iSubItem = c;
    SendMessageW(lvMain, LVM_INSERTCOLUMNW, static_cast<WPARAM>(c),
                 reinterpret_cast<LPARAM>(&column));
  }
  rows_.SetState(SortState{});  // sorted by "Username", ascending
  ShowSortArrow();
  SendMessageA(lvMain, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, 0xFFFFFFFF);

  DomainQuestion question{api_, {}};
  question.AskWhileServiced();
  const std::u16string& ownDomain = question.asked.own;
  const std::vector<std::u16string>& domains = question.asked.domains;
  // Names from the network are shown with their hidden characters made
  // visible; the scan asks for the names themselves (DomainText).
  domainNames_.assign(domains.begin() + std::min<size_t>(1, domains.size()), domains.end());
  ownDomain_ = ownDomain;
  for (const std::u16string& domain : domainNames_) {
    const std::wstring name = Wide(VisibleText(domain));
    SendMessageW(comboDomains, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
  }
  SendMessageW(comboDomains, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  SetWindowTextW(comboDomains, Wide(VisibleText(ownDomain)).c_str());

  ::ShowWindow(hwnd_, SW_SHOWNORMAL);
  UpdateWindow(hwnd_);
  SetFocus(lvMain);
  SetStatusText(kStatusDone);
}

void frmMain::ApplyResizeRules() {
  if (hwnd_ == nullptr || lvMain == nullptr) return;
  const SIZE outer = OuterSize(hwnd_);
  for (const LayoutAssignment& a : ResizeRules(outer.cx * 15, outer.cy * 15)) {
    const int px = Px(a.twips);
    switch (a.property) {
      case LayoutProperty::ListWidth:
        Resize(lvMain, px, ControlSize(lvMain).cy);
        break;
      case LayoutProperty::ListHeight:
        Resize(lvMain, ControlSize(lvMain).cx, px);
        break;
      case LayoutProperty::StatusBarWidth:
        break;  // docked: the status bar always spans the client area
      case LayoutProperty::CoolBarWidth:
        Resize(CoolBar1, px, ControlSize(CoolBar1).cy);
        break;
      case LayoutProperty::PowerButtonLeft:
        SetWindowPos(asxPowerButton1, nullptr, px, Px(120), 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        break;
      case LayoutProperty::ComboWidth:
        Resize(comboDomains, px, ControlSize(comboDomains).cy);
        break;
    }
  }
}

void frmMain::LayoutStatusBar() {
  if (StatusBar1 == nullptr) return;
  SendMessageW(StatusBar1, WM_SIZE, 0, 0);  // docks along the bottom edge
  RECT client{};
  GetClientRect(StatusBar1, &client);
  const int minimum = Px(1440);
  const int padding = 12;
  wchar_t text[128];
  const auto partWidth = [&](int part) {
    text[0] = 0;
    SendMessageW(StatusBar1, SB_GETTEXTW, static_cast<WPARAM>(part),
                 reinterpret_cast<LPARAM>(text));
    return std::max(minimum, TextWidth(StatusBar1, text) + padding);
  };
  const int time = partWidth(2) + GetSystemMetrics(SM_CXVSCROLL);  // and the size grip
  const int date = partWidth(1);
  const int status = std::max(minimum, static_cast<int>(client.right) - date - time);
  int edges[3] = {status, status + date, -1};
  SendMessageW(StatusBar1, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(edges));
  if (statusTip_ != nullptr) {
    TTTOOLINFOW tip{};
    tip.cbSize = sizeof tip;
    tip.hwnd = StatusBar1;
    tip.uId = 1;
    SendMessageW(StatusBar1, SB_GETRECT, 0, reinterpret_cast<LPARAM>(&tip.rect));
    SendMessageW(statusTip_, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tip));
  }
}

void frmMain::UpdateClock() {
  wchar_t date[80] = L"";
  wchar_t time[80] = L"";
  // The user's short formats, as the system's own clock shows them.
  GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, 80);
  GetTimeFormatW(LOCALE_USER_DEFAULT, TIME_NOSECONDS, nullptr, nullptr, time, 80);
  wchar_t shown[80] = L"";
  SendMessageW(StatusBar1, SB_GETTEXTW, 1, reinterpret_cast<LPARAM>(shown));
  const bool dateChanged = lstrcmpW(shown, date) != 0;
  SendMessageW(StatusBar1, SB_GETTEXTW, 2, reinterpret_cast<LPARAM>(shown));
  if (!dateChanged && lstrcmpW(shown, time) == 0) return;
  SendMessageW(StatusBar1, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(date));
  SendMessageW(StatusBar1, SB_SETTEXTW, 2, reinterpret_cast<LPARAM>(time));
  LayoutStatusBar();
}

void frmMain::ShowSortArrow() {
  HWND header = reinterpret_cast<HWND>(SendMessageW(lvMain, LVM_GETHEADER, 0, 0));
  const SortState& state = rows_.State();
  for (int c = 0; c < 5; ++c) {
    HDITEMW item{};
    item.mask = HDI_FORMAT;
    if (!SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(c),
                      reinterpret_cast<LPARAM>(&item)))
      continue;
    item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
    if (state.Sorted && c == state.SortKey)
      item.fmt |= state.SortOrder == 1 ? HDF_SORTDOWN : HDF_SORTUP;
    SendMessageW(header, HDM_SETITEMW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&item));
  }
}

void frmMain::asxPowerButton1_Click() {
  // A press during a running scan's yield is not a second scan.
  if (scanning_ || ending_) return;
  scanning_ = true;
  stopRequested_ = false;
  servicedOnce_ = false;  // the first row is shown at once
  listUpdatedOnce_ = false;
  lastOutcome_ = RunAuditScan(api_, *this, settings_);
  scanning_ = false;
  ShowStatusText();
  if (lastOutcome_ == ScanOutcome::Abandoned || ending_) {
    pending_.clear();  // the program is ending: no further rows
    return;
  }
  FlushRows();
}

void frmMain::Toolbar1_ButtonClick(int id) {
  if (id == kExit) {
    ending_ = true;
    DestroyWindow(hwnd_);  // the program ends with its main window
  } else if (id == kAbout) {
    frmAbout::ShowModal(hwnd_);
  }
}

void frmMain::lvMain_ColumnClick(int column) {
  SortState state = rows_.State();
  OnColumnClick(state, column + 1);
  const int selected = KeepSelection([&] { rows_.SetState(state); });
  ShowSortArrow();
  // The selected row is shown where the new order puts it.
  if (selected >= 0) SendMessageW(lvMain, LVM_ENSUREVISIBLE, static_cast<WPARAM>(selected), FALSE);
  InvalidateRect(lvMain, nullptr, FALSE);
}

int frmMain::KeepSelection(const std::function<void()>& reorder) {
  // The list view knows the selected row only by its position.
  const int selected = static_cast<int>(
      SendMessageW(lvMain, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  std::optional<uint32_t> arrival;
  if (selected >= 0 && static_cast<size_t>(selected) < rows_.Size())
    arrival = rows_.Order()[static_cast<size_t>(selected)];
  reorder();
  if (!arrival) return -1;
  const auto& order = rows_.Order();
  const int at = static_cast<int>(std::find(order.begin(), order.end(), *arrival) - order.begin());
  if (at == selected) return at;
  LVITEMW item{};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(lvMain, LVM_SETITEMSTATE, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(&item));
  return at;
}

void frmMain::ShowMachines() {
  // Only when the last scan left machines not fully asked.
  const std::u16string text = UnaskedMachinesText(outcomes_);
  if (!text.empty()) frmMachines::Show(hwnd_, text);
}

void frmMain::FlushRows() {
  if (pending_.empty() || lvMain == nullptr) return;
  std::vector<ReportRow> rows;
  rows.swap(pending_);
  KeepSelection([&] {
    rows_.Append(std::move(rows));
    SendMessageW(lvMain, LVM_SETITEMCOUNT, rows_.Size(), LVSICF_NOSCROLL);
  });
  InvalidateRect(lvMain, nullptr, FALSE);
}

bool frmMain::PreTranslate(MSG& msg) {
  if (HWND machines = frmMachines::Current();
      machines != nullptr && (msg.hwnd == machines || IsChild(machines, msg.hwnd)))
    return IsDialogMessageW(machines, &msg) != FALSE;
  if (hwnd_ == nullptr || msg.message != WM_KEYDOWN) return false;
  if (msg.hwnd != hwnd_ && !IsChild(hwnd_, msg.hwnd)) return false;
  if (msg.wParam == VK_ESCAPE && scanning_) {
    stopRequested_ = true;
    return true;
  }
  if (msg.wParam == VK_TAB) {
    // The keyboard order: the list, then the domain box and the start button.
    HWND order[] = {lvMain, comboDomains, asxPowerButton1};
    HWND focus = GetFocus();
    int at = 0;
    for (int i = 0; i < 3; ++i)
      if (focus == order[i] || IsChild(order[i], focus)) at = i;
    const bool back = GetKeyState(VK_SHIFT) < 0;
    SetFocus(order[(at + (back ? 2 : 1)) % 3]);
    return true;
  }
  return false;
}

void frmMain::SetStatusText(const std::u16string& text) {
  statusText_ = text.substr(0, text.find(u'\0'));
  statusDirty_ = true;
  // A running scan tells its progress once per machine, far more often than
  // the screen changes: the panel takes the latest text when the window is
  // next serviced. Its first text shows at once.
  if (scanning_ && servicedOnce_) return;
  ShowStatusText();
  if (StatusBar1 != nullptr) UpdateWindow(StatusBar1);
}

void frmMain::ShowStatusText() {
  if (!statusDirty_ || StatusBar1 == nullptr) return;
  statusDirty_ = false;
  const std::wstring shown = Wide(statusText_);
  SendMessageW(StatusBar1, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(shown.c_str()));
}

void frmMain::ClearRows() {
  pending_.clear();
  rows_.Clear();
  if (lvMain != nullptr) SendMessageW(lvMain, LVM_SETITEMCOUNT, 0, 0);
}

void frmMain::AppendRow(const ReportRow& row) {
  if (ending_) return;
  pending_.push_back(row);
}

void frmMain::SetMousePointer(MousePointer pointer) {
  busy_ = pointer == MousePointer::Hourglass;
  POINT at{};
  GetCursorPos(&at);
  if (hwnd_ != nullptr && WindowFromPoint(at) != nullptr &&
      (WindowFromPoint(at) == hwnd_ || IsChild(hwnd_, WindowFromPoint(at))))
    SetCursor(SystemCursor(busy_));
}

std::u16string frmMain::DomainText() {
  if (comboDomains == nullptr) return {};
  const LRESULT picked = SendMessageW(comboDomains, CB_GETCURSEL, 0, 0);
  const bool listed = picked >= 0 && static_cast<size_t>(picked) < domainNames_.size();
  return DomainNamed(WindowText(comboDomains),
                     listed ? &domainNames_[static_cast<size_t>(picked)] : nullptr, ownDomain_);
}

void frmMain::ShowMessage(const std::u16string& text) {
  // The box shows the text up to its first NUL.
  const std::wstring shown = Wide(text.substr(0, text.find(u'\0')));
  MessageBoxW(hwnd_, shown.c_str(), W(kAppTitle16), MB_OK);
}

void frmMain::SetMachineOutcomes(const std::vector<MachineOutcome>& outcomes) {
  outcomes_ = outcomes;
  const bool anyMissing = !UnaskedMachinesText(outcomes_).empty();
  statusTipText_ = W(anyMissing ? kStatusPanelMachinesTip : kStatusPanelTip);
  if (statusTip_ != nullptr) {
    TTTOOLINFOW tip{};
    tip.cbSize = sizeof tip;
    tip.hwnd = StatusBar1;
    tip.uId = 1;
    tip.lpszText = statusTipText_.data();
    SendMessageW(statusTip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tip));
  }
  if (HWND open = frmMachines::Current(); open != nullptr) {
    if (anyMissing)
      ShowMachines();
    else
      DestroyWindow(open);
  }
}

bool frmMain::DoEvents() {
  if (ending_) return false;
  // Rows stream in far faster than the screen can show them: the window is
  // serviced (input and painting) about once a frame, and the rows are handed
  // to the list a few times a second, or sooner when so many wait that
  // placing them would hold up the next service.
  const auto now = std::chrono::steady_clock::now();
  if (servicedOnce_ && now - serviced_ < std::chrono::milliseconds(kServiceIntervalMs) &&
      pending_.size() < kMaxPendingRows)
    return true;
  if (!listUpdatedOnce_ || pending_.size() >= kMaxPendingRows ||
      now - listUpdated_ >= std::chrono::milliseconds(kListIntervalMs)) {
    if (!pending_.empty()) {
      FlushRows();
      listUpdated_ = now;
      listUpdatedOnce_ = true;
    }
  }
  ShowStatusText();
  MSG msg;
  while (!ending_ && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // for the program's own loop
      ending_ = true;
      break;
    }
    if (PreTranslate(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  serviced_ = std::chrono::steady_clock::now();
  servicedOnce_ = true;
  return !ending_;
}

LRESULT CALLBACK frmMain::PowerButtonProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                          DWORD_PTR data) {
  auto* self = reinterpret_cast<frmMain*>(data);
  if (msg == WM_MOUSEMOVE && !self->powerHot_hover_) {
    self->powerHot_hover_ = true;
    TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, hwnd, 0};
    TrackMouseEvent(&track);
    InvalidateRect(hwnd, nullptr, FALSE);
  } else if (msg == WM_MOUSELEAVE) {
    self->powerHot_hover_ = false;
    InvalidateRect(hwnd, nullptr, FALSE);
  }
  return DefSubclassProc(hwnd, msg, wp, lp);
}

LRESULT CALLBACK frmMain::BoxProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  // The domain box's container: what its controls report goes to the main window.
  switch (msg) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_DRAWITEM:
      return SendMessageW(GetAncestor(hwnd, GA_ROOT), msg, wp, lp);
    default:
      return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

LRESULT CALLBACK frmMain::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    static_cast<frmMain*>(create->lpCreateParams)->hwnd_ = hwnd;
  }
  auto* self = reinterpret_cast<frmMain*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(hwnd, msg, wp, lp);
  return self->Handle(msg, wp, lp);
}

LRESULT frmMain::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_SIZE:
      LayoutStatusBar();
      ApplyResizeRules();
      return 0;
    case WM_COMMAND: {
      const int id = LOWORD(wp);
      if (id == kPowerButton && HIWORD(wp) == BN_CLICKED) {
        asxPowerButton1_Click();
      } else if ((id == kExit || id == kAbout) && lp == reinterpret_cast<LPARAM>(Toolbar1)) {
        Toolbar1_ButtonClick(id);
      }
      return 0;
    }
    case WM_NOTIFY:
      return OnNotify(reinterpret_cast<NMHDR*>(lp));
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
      if (item->hwndItem != asxPowerButton1) return FALSE;
      // The picture under the pointer and while held down, the other at rest.
      const bool hot = powerHot_hover_ || (item->itemState & ODS_SELECTED) != 0;
      HDC memory = CreateCompatibleDC(item->hDC);
      HGDIOBJ old = SelectObject(memory, hot ? powerHot_ : powerRest_);
      BitBlt(item->hDC, 0, 0, 17, 17, memory, 0, 0, SRCCOPY);
      SelectObject(memory, old);
      DeleteDC(memory);
      if ((item->itemState & ODS_FOCUS) != 0) {
        RECT r = item->rcItem;
        DrawFocusRect(item->hDC, &r);
      }
      return TRUE;
    }
    case WM_TIMER:
      if (wp == kClockTimer) UpdateClock();
      return 0;
    case WM_SETCURSOR:
      if (busy_) {
        SetCursor(SystemCursor(true));
        return TRUE;
      }
      break;
    case WM_CLOSE:
      // Closing the window ends the program; a running scan stops at its next yield.
      ending_ = true;
      DestroyWindow(hwnd_);
      return 0;
    case WM_DESTROY:
      ending_ = true;
      KillTimer(hwnd_, kClockTimer);
      if (HWND machines = frmMachines::Current()) DestroyWindow(machines);
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
      hwnd_ = nullptr;
      CoolBar1 = boxDomains = comboDomains = asxPowerButton1 = Toolbar1 = nullptr;
      lvMain = StatusBar1 = statusTip_ = nullptr;
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, msg, wp, lp);
}

LRESULT frmMain::OnNotify(NMHDR* header) {
  if (header->hwndFrom == lvMain) {
    if (header->code == LVN_GETDISPINFOW) {
      auto* info = reinterpret_cast<NMLVDISPINFOW*>(header);
      LVITEMW& item = info->item;
      if ((item.mask & LVIF_TEXT) != 0 && item.pszText != nullptr && item.cchTextMax > 0) {
        item.pszText[0] = 0;
        if (item.iItem >= 0 && static_cast<size_t>(item.iItem) < rows_.Size() &&
            item.iSubItem >= 0 && item.iSubItem < 5) {
          // Hidden characters (direction overrides, zero-width ones) shown
          // as such; the rows are ordered by their own text.
          const std::u16string cell = ShownCell(rows_.RowAt(static_cast<size_t>(item.iItem)),
                                                static_cast<int16_t>(item.iSubItem));
          const size_t n = std::min(cell.size(), static_cast<size_t>(item.cchTextMax) - 1);
          std::copy_n(cell.data(), n, item.pszText);
          item.pszText[n] = 0;
        }
      }
      return 0;
    }
    if (header->code == LVN_ODFINDITEMW) {
      // The type-ahead: the row the typed text names, or -1 (0 would be the
      // first row). Rows are found by text alone; they carry no item data.
      const auto* find = reinterpret_cast<const NMLVFINDITEMW*>(header);
      const LVFINDINFOW& info = find->lvfi;
      if (info.psz == nullptr) return -1;
      return FindRowAsked(rows_, U16(info.psz, static_cast<size_t>(lstrlenW(info.psz))),
                          find->iStart, info.flags);
    }
    if (header->code == LVN_COLUMNCLICK) {
      lvMain_ColumnClick(reinterpret_cast<NMLISTVIEW*>(header)->iSubItem);
      return 0;
    }
    return 0;
  }
  if (header->code == TTN_GETDISPINFOW && (header->idFrom == static_cast<UINT_PTR>(kExit) ||
                                           header->idFrom == static_cast<UINT_PTR>(kAbout))) {
    auto* info = reinterpret_cast<NMTTDISPINFOW*>(header);
    info->lpszText = const_cast<wchar_t*>(W(kToolbarButtons[header->idFrom == kExit ? 0 : 1].tip));
    return 0;
  }
  if (header->hwndFrom == StatusBar1 && header->code == NM_DBLCLK) {
    if (reinterpret_cast<NMMOUSE*>(header)->dwItemSpec == 0) ShowMachines();
    return TRUE;
  }
  return 0;
}

}  // namespace quorvix::win32

#include "frmMachines.h"

#include "Win32Ui.h"
#include "WindowTexts.h"

namespace quorvix::win32 {

namespace {

HWND current = nullptr;

void CopyToClipboard(HWND owner, const std::wstring& text) {
  if (!OpenClipboard(owner)) return;
  EmptyClipboard();
  const SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
  if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
    if (void* p = GlobalLock(memory)) {
      memcpy(p, text.c_str(), bytes);
      GlobalUnlock(memory);
      if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr) GlobalFree(memory);
    } else {
      GlobalFree(memory);
    }
  }
  CloseClipboard();
}

void Layout(HWND window) {
  RECT client{};
  GetClientRect(window, &client);
  const int w = client.right;
  const int h = client.bottom;
  const int buttonW = 75;
  const int buttonH = 25;
  const int gap = 8;
  SetWindowPos(GetDlgItem(window, frmMachines::kText), nullptr, gap, gap, w - 2 * gap,
               h - 3 * gap - buttonH, SWP_NOZORDER);
  SetWindowPos(GetDlgItem(window, frmMachines::kCopy), nullptr, w - 2 * (gap + buttonW),
               h - gap - buttonH, buttonW, buttonH, SWP_NOZORDER);
  SetWindowPos(GetDlgItem(window, frmMachines::kClose), nullptr, w - gap - buttonW,
               h - gap - buttonH, buttonW, buttonH, SWP_NOZORDER);
}

LRESULT CALLBACK MachinesProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CREATE: {
      HINSTANCE instance = GetModuleHandleW(nullptr);
      HWND text = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                                  WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | WS_HSCROLL |
                                      ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL,
                                  0, 0, 10, 10, hwnd,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(frmMachines::kText)),
                                  instance, nullptr);
      const int tabs[] = {70, 120, 170, 210};  // dialog units
      SendMessageW(text, EM_SETTABSTOPS, 4, reinterpret_cast<LPARAM>(tabs));
      CreateWindowExW(0, L"BUTTON", W(kMachinesCopy),
                      WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 0, 10, 10, hwnd,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(frmMachines::kCopy)), instance,
                      nullptr);
      CreateWindowExW(0, L"BUTTON", W(kMachinesClose),
                      WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 0, 10, 10, hwnd,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(frmMachines::kClose)), instance,
                      nullptr);
      SetFontOfTree(hwnd, WindowFont());
      Layout(hwnd);
      return 0;
    }
    case WM_SIZE:
      Layout(hwnd);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wp) == frmMachines::kCopy && HIWORD(wp) == BN_CLICKED) {
        const std::u16string text = WindowText(GetDlgItem(hwnd, frmMachines::kText));
        CopyToClipboard(hwnd, Wide(text));
      } else if (LOWORD(wp) == frmMachines::kClose) {
        DestroyWindow(hwnd);  // "&Close" or Escape
      }
      return 0;
    case WM_DESTROY:
      if (current == hwnd) current = nullptr;
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

}  // namespace

HWND frmMachines::Current() {
  return current;
}

HWND frmMachines::Show(HWND owner, const std::u16string& text) {
  if (current == nullptr) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    static bool registered = false;
    if (!registered) {
      WNDCLASSEXW wc{};
      wc.cbSize = sizeof wc;
      wc.lpfnWndProc = MachinesProc;
      wc.hInstance = instance;
      wc.hIcon = ProgramIcon(32);
      wc.hIconSm = ProgramIcon(16);
      wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
      wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
      wc.lpszClassName = kClassName;
      registered = RegisterClassExW(&wc) != 0;
    }
    RECT at{};
    GetWindowRect(owner, &at);
    current = CreateWindowExW(WS_EX_DLGMODALFRAME, kClassName, W(kMachinesTitle),
                              WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME, at.left + 30,
                              at.top + 60, 560, 300, owner, nullptr, instance, nullptr);
    if (current == nullptr) return nullptr;
  }
  // The edit control breaks lines at CR LF only.
  std::wstring shown;
  for (char16_t c : text) {
    if (c == u'\n') shown += L'\r';
    shown += static_cast<wchar_t>(c);
  }
  HWND edit = GetDlgItem(current, kText);
  SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);  // as long as the list is
  SetWindowTextW(edit, shown.c_str());
  ShowWindow(current, SW_SHOWNORMAL);
  SetForegroundWindow(current);
  SetFocus(GetDlgItem(current, kText));
  return current;
}

}  // namespace quorvix::win32

#include "frmAbout.h"

#include "Resources.h"
#include "Win32Ui.h"
#include "WindowTexts.h"

namespace quorvix::win32 {

namespace {

constexpr int kFrame1 = 1002;
constexpr int kStatic = -1;

HWND Place(HWND dialog, const wchar_t* cls, const wchar_t* text, DWORD style, DWORD exStyle, int id,
           int left, int top, int width, int height, HFONT font) {
  HWND child = CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, Px(left), Px(top),
                               Px(width), Px(height), dialog,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                               GetModuleHandleW(nullptr), nullptr);
  SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return child;
}

void Layout(HWND dialog) {
  SetWindowTextW(dialog, W(kAboutTitle));
  SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(ProgramIcon(16)));
  SendMessageW(dialog, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont()), FALSE);

  // Client area 6255 x 5985 twips, centred over the owner.
  RECT frame{0, 0, Px(6255), Px(5985)};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_EXSTYLE)));
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  RECT owner{};
  HWND ownerWindow = GetWindow(dialog, GW_OWNER);
  if (ownerWindow == nullptr || !GetWindowRect(ownerWindow, &owner)) owner = ScreenArea();
  SetWindowPos(dialog, nullptr, owner.left + (owner.right - owner.left - width) / 2,
               owner.top + (owner.bottom - owner.top - height) / 2, width, height,
               SWP_NOZORDER | SWP_NOACTIVATE);

  HFONT font = WindowFont();
  // The banner inside a thin sunken border of two pixels; painted by the window.
  Place(dialog, L"STATIC", L"", SS_OWNERDRAW | SS_NOTIFY, WS_EX_CLIENTEDGE, frmAbout::kImage2, 120,
        120, 6060, 3060, font);
  Place(dialog, L"STATIC", W(kAboutProduct), SS_LEFT | SS_NOPREFIX, 0, kStatic, 240, 3270, 3000,
        255, WindowFont(true));
  Place(dialog, L"STATIC", W(kAboutVersion), SS_RIGHT | SS_NOPREFIX, 0, kStatic, 3360, 3270, 2775,
        255, font);
  Place(dialog, L"STATIC", W(kAboutPurpose), SS_LEFT | SS_NOPREFIX, 0, kStatic, 240, 3570, 5895,
        435, font);
  Place(dialog, L"STATIC", L"", SS_ETCHEDFRAME, 0, kFrame1, 240, 4080, 5895, 1335, font);
  HWND label1 = Place(dialog, L"STATIC", W(kAboutNotice), SS_LEFT | SS_NOPREFIX, 0, kStatic, 240,
                      4080, 5895, 1335, font);
  SetWindowPos(label1, nullptr, Px(240) + 8, Px(4080) + 8, Px(5895) - 16, Px(1335) - 16,
               SWP_NOZORDER | SWP_NOACTIVATE);
  HWND close = Place(dialog, L"BUTTON", W(kAboutClose), BS_DEFPUSHBUTTON | WS_TABSTOP, 0,
                     frmAbout::kCmdClose, 5160, 5520, 975, 375, font);
  SetFocus(close);
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_INITDIALOG:
      Layout(dialog);
      return FALSE;  // the focus is set: on "&Close"
    case WM_COMMAND: {
      const int id = LOWORD(wp);
      const int code = HIWORD(wp);
      if ((id == frmAbout::kCmdClose && code == BN_CLICKED) ||
          (id == frmAbout::kImage2 && (code == STN_CLICKED || code == STN_DBLCLK))) {
        EndDialog(dialog, id);
        return TRUE;
      }
      return TRUE;  // Escape (IDCANCEL) does not close the window: it has no cancel
    }
    case WM_CTLCOLORSTATIC: {
      // The labels and the frame are black whatever the system's text colour.
      HDC dc = reinterpret_cast<HDC>(wp);
      SetTextColor(dc, RGB(0, 0, 0));
      SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
      if (item->CtlID != static_cast<UINT>(frmAbout::kImage2)) return FALSE;
      HDC memory = CreateCompatibleDC(item->hDC);
      HGDIOBJ old = SelectObject(memory, BannerBitmap());
      BitBlt(item->hDC, 0, 0, 400, 200, memory, 0, 0, SRCCOPY);
      SelectObject(memory, old);
      DeleteDC(memory);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

void frmAbout::ShowModal(HWND owner) {
  DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUT), owner, AboutProc, 0);
}

}  // namespace quorvix::win32

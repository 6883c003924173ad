#include "Win32Ui.h"

#include <vector>

#include "Resources.h"

namespace quorvix::win32 {

namespace {

int CALLBACK FoundFace(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

HFONT MakeFont(bool bold) {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  LOGFONTW lf{};
  lf.lfHeight = -MulDiv(825, dpi, 7200);  // 8.25 point
  lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  lf.lfCharSet = ANSI_CHARSET;
  lf.lfQuality = DEFAULT_QUALITY;
  if (HasVerdana()) {
    lstrcpynW(lf.lfFaceName, L"Verdana", LF_FACESIZE);
  } else {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
      lstrcpynW(lf.lfFaceName, metrics.lfMessageFont.lfFaceName, LF_FACESIZE);
    else
      lstrcpynW(lf.lfFaceName, L"MS Shell Dlg", LF_FACESIZE);
    lf.lfCharSet = DEFAULT_CHARSET;
  }
  return CreateFontIndirectW(&lf);
}

BOOL CALLBACK SetFontOfChild(HWND child, LPARAM font) {
  SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(font), FALSE);
  return TRUE;
}

}  // namespace

std::u16string WindowText(HWND window) {
  const int n = GetWindowTextLengthW(window);
  std::vector<wchar_t> buffer(static_cast<std::size_t>(n) + 1);
  const int got = GetWindowTextW(window, buffer.data(), n + 1);
  return U16(buffer.data(), static_cast<std::size_t>(got > 0 ? got : 0));
}

bool HasVerdana() {
  static const bool found = [] {
    bool any = false;
    HDC screen = GetDC(nullptr);
    LOGFONTW lf{};
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(lf.lfFaceName, L"Verdana", LF_FACESIZE);
    EnumFontFamiliesExW(screen, &lf, FoundFace, reinterpret_cast<LPARAM>(&any), 0);
    ReleaseDC(nullptr, screen);
    return any;
  }();
  return found;
}

HFONT WindowFont(bool bold) {
  static HFONT const regular = MakeFont(false);
  static HFONT const heavy = MakeFont(true);
  return bold ? heavy : regular;
}

void SetFontOfTree(HWND window, HFONT font) {
  SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  EnumChildWindows(window, SetFontOfChild, reinterpret_cast<LPARAM>(font));
}

HBITMAP ResourceBitmap(int id) {
  return static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id),
                                         IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

HBITMAP BannerBitmap() {
  static HBITMAP const banner = ResourceBitmap(IDB_BANNER);
  return banner;
}

HICON ProgramIcon(int size) {
  return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_QUORVIX),
                                       IMAGE_ICON, size, size, LR_SHARED));
}

HCURSOR SystemCursor(bool hourglass) {
  return LoadCursorW(nullptr, hourglass ? IDC_WAIT : IDC_ARROW);
}

SIZE OuterSize(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

RECT ScreenArea() {
  return RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

}  // namespace quorvix::win32

#include "frmSplash.h"

#include "ResizeRules.h"
#include "Win32Ui.h"
#include "WindowTexts.h"

namespace quorvix::win32 {

namespace {

constexpr UINT_PTR kTimer1 = 1;
constexpr DWORD kStyle = WS_POPUP | WS_BORDER;  // no caption; a one-pixel frame

void RegisterClassOnce(HINSTANCE instance, WNDPROC proc) {
  static bool done = false;
  if (done) return;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hIcon = ProgramIcon(32);
  wc.hIconSm = ProgramIcon(16);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = CreateSolidBrush(RGB(224, 224, 224));
  wc.lpszClassName = frmSplash::kClassName;
  RegisterClassExW(&wc);
  done = true;
}

}  // namespace

frmSplash::frmSplash(std::function<void()> showMain, std::function<void()> closed)
    : showMain_(std::move(showMain)), closed_(std::move(closed)) {}

frmSplash::~frmSplash() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

void frmSplash::Show() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterClassOnce(instance, WndProc);
  // Client area 400 x 199: the banner's last row falls below it.
  RECT frame{0, 0, 400, 199};
  AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const RECT screen = ScreenArea();
  const WindowOrigin at = CentredOrigin(screen.left, screen.top, screen.right - screen.left,
                                        screen.bottom - screen.top, width, height);
  hwnd_ = CreateWindowExW(0, kClassName, W(kAppTitle16), kStyle, at.left, at.top, width, height,
                          nullptr, nullptr, instance, this);
  if (hwnd_ == nullptr) {
    // No banner to show: go on to the main window at once.
    if (showMain_) showMain_();
    if (closed_) closed_();
    return;
  }
  SetTimer(hwnd_, kTimer1, 1000, nullptr);
  ShowWindow(hwnd_, SW_SHOWNORMAL);
  UpdateWindow(hwnd_);
}

void frmSplash::Timer1_Timer() {
  ++ticks_;
  // Stopped first: the main window's loading services the windows while it
  // waits on the network.
  KillTimer(hwnd_, kTimer1);
  // The main window shows before this one goes, so one window is always there.
  if (showMain_) showMain_();
  DestroyWindow(hwnd_);
}

LRESULT CALLBACK frmSplash::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<frmSplash*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (msg) {
    case WM_TIMER:
      if (self != nullptr && wp == kTimer1 && self->ticks_ == 0) self->Timer1_Timer();
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      HDC memory = CreateCompatibleDC(dc);
      HGDIOBJ old = SelectObject(memory, BannerBitmap());
      BitBlt(dc, 0, 0, 400, 200, memory, 0, 0, SRCCOPY);  // Image1
      SelectObject(memory, old);
      DeleteDC(memory);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_NCHITTEST:
      return HTCLIENT;  // cannot be moved or resized
    case WM_DESTROY:
      if (self != nullptr) {
        self->hwnd_ = nullptr;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        if (self->closed_) self->closed_();
      }
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

}  // namespace quorvix::win32

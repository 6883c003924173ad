// The start-up window: the banner without a title bar in the middle of the
// screen. One second after it is shown its timer shows the main window, then
// it closes for good.
#pragma once

#include <windows.h>

#include <functional>

namespace quorvix::win32 {

class frmSplash {
 public:
  // showMain: shows the main window and returns when its loading has ended.
  // closed: told once the splash window is gone.
  frmSplash(std::function<void()> showMain, std::function<void()> closed = {});
  ~frmSplash();
  frmSplash(const frmSplash&) = delete;
  frmSplash& operator=(const frmSplash&) = delete;

  // Creates, centres and shows the window and starts its timer.
  void Show();
  HWND Handle() const { return hwnd_; }
  int Ticks() const { return ticks_; }

  static constexpr const wchar_t* kClassName = L"QuorvixSplash";

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  void Timer1_Timer();

  HWND hwnd_ = nullptr;
  std::function<void()> showMain_;
  std::function<void()> closed_;
  int ticks_ = 0;
};

}  // namespace quorvix::win32

// The About window: the banner, the product's name and version, two notices
// and "&Close". Shown modal over the main window; a click on the banner
// closes it as "&Close" does.
#pragma once

#include <windows.h>

namespace quorvix::win32 {

class frmAbout {
 public:
  // Loads the window afresh and shows it modal over owner; returns when it
  // has been closed.
  static void ShowModal(HWND owner);

  static constexpr int kImage2 = 1001;
  static constexpr int kCmdClose = IDOK;  // the default button
};

}  // namespace quorvix::win32

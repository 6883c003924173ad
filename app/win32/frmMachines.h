// The machines the last scan could not fully ask: one line each with the
// outcome and its message, in a read-only text the user can select and copy
// ("&Copy" copies it all). Modeless, over the main window.
#pragma once

#include <windows.h>

#include <string>

namespace quorvix::win32 {

class frmMachines {
 public:
  // Shows the window over owner with this text, or brings the open one to the
  // front with the new text. Returns the window.
  static HWND Show(HWND owner, const std::u16string& text);
  // The open window, or null.
  static HWND Current();

  static constexpr const wchar_t* kClassName = L"QuorvixMachines";
  static constexpr int kText = 1101;
  static constexpr int kCopy = 1102;
  static constexpr int kClose = IDCANCEL;
};

}  // namespace quorvix::win32

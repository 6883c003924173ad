// The native desktop program from the splash window to its end, on the
// calling thread: the program's main() and the window tests run it alike.
#pragma once

#include <windows.h>

#include <functional>

#include "AuditScan.h"
#include "NetApi.h"
#include "frmMain.h"

namespace quorvix::win32 {

// Observers of a run, for the tests and the screenshot tour.
struct DesktopHooks {
  std::function<void(HWND splash)> splashShown;
  std::function<void()> splashGone;
  std::function<void(frmMain& main)> mainLoaded;  // loading has returned
};

// Registers the common controls the windows use; once per process.
void InitControls();

// Shows the splash window, then the main window, and runs the message loop
// until the main window has closed. Returns the program's exit status.
int RunDesktopProgram(NetApi& api, bool simulated, const ScanSettings& settings = {},
                      const DesktopHooks& hooks = {});

}  // namespace quorvix::win32

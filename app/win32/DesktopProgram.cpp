#include "DesktopProgram.h"

#include <commctrl.h>

#include "Win32Ui.h"
#include "frmSplash.h"

namespace quorvix::win32 {

void InitControls() {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_BAR_CLASSES | ICC_COOL_CLASSES | ICC_LISTVIEW_CLASSES |
                   ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES;
  InitCommonControlsEx(&controls);
}

int RunDesktopProgram(NetApi& api, bool simulated, const ScanSettings& settings,
                      const DesktopHooks& hooks) {
  InitControls();
  // The font and the pictures are made before the splash shows: its second
  // belongs to the main window's loading alone.
  WindowFont();
  WindowFont(true);
  BannerBitmap();
  frmMain main(api, simulated);
  main.SetScanSettings(settings);
  frmSplash splash(
      [&] {
        main.ShowWindow();
        if (hooks.mainLoaded) hooks.mainLoaded(main);
      },
      hooks.splashGone);
  splash.Show();
  if (hooks.splashShown) hooks.splashShown(splash.Handle());
  if (main.Handle() == nullptr && main.IsLoaded()) return 1;  // the window could not be made

  MSG msg{};
  int rc = 0;
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      rc = static_cast<int>(msg.wParam);
      break;
    }
    if (got < 0) {
      rc = 1;
      break;
    }
    if (main.PreTranslate(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return rc;
}

}  // namespace quorvix::win32

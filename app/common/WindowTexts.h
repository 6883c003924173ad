// The texts both desktop windows show: titles, status panel texts, tool tips,
// toolbar buttons, the About window's wording. The texts of a scan's progress
// and of its machines come from the scan (ScanSummary.h).
#pragma once

namespace quorvix {

inline constexpr char16_t kAppTitle16[] = u"Quorvix 2002";
// The main window's title when the data come from the simulated domain.
inline constexpr char16_t kSimulatedTitle[] = u"Quorvix 2002 (simulated domain)";

inline constexpr char16_t kStatusInitial[] = u"Status:";
inline constexpr char16_t kStatusWorking[] = u"Status: Working...";
inline constexpr char16_t kStatusDone[] = u"Status: Done";
inline constexpr char16_t kStatusPanelTip[] = u"Welcome to Quorvix 2002";
// The first panel's tool tip once a scan has left machines not fully asked.
inline constexpr char16_t kStatusPanelMachinesTip[] = u"Double-click to see the machines not asked";

struct ToolbarButtonText {
  const char16_t* key;  // also the caption
  const char16_t* tip;
  int image;  // 1-based, in the toolbar's image list
};
inline constexpr ToolbarButtonText kToolbarButtons[2] = {
    {u"Exit", u"Exit Quorvix 2002", 1},
    {u"About", u"About Quorvix 2002", 2},
};

inline constexpr char16_t kAboutTitle[] = u"About";
inline constexpr char16_t kAboutProduct[] = u"Quorvix 2002";
inline constexpr char16_t kAboutVersion[] = u"Version 1.0";
inline constexpr char16_t kAboutPurpose[] =
    u"Shows who is logged on where in a Windows domain. "
    u"Audit only the networks you are entitled to audit.";
inline constexpr char16_t kAboutNotice[] =
    u"This program is provided as is, without warranty of any kind. Its authors accept no "
    u"liability for any damage or loss arising from its use. The names of domains, machines "
    u"and users it shows belong to their owners.";
inline constexpr char16_t kAboutClose[] = u"&Close";

// The window that lists the machines a scan could not fully ask.
inline constexpr char16_t kMachinesTitle[] = u"Machines not asked - Quorvix 2002";
inline constexpr char16_t kMachinesCopy[] = u"&Copy";
inline constexpr char16_t kMachinesClose[] = u"&Close";

}  // namespace quorvix

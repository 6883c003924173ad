// The main window's layout rules: what a resize of the window assigns to its
// controls. Kept free of the window system so they can be checked alone.
#pragma once

#include <cstdint>
#include <vector>

namespace quorvix {

// Geometry of the main window is given in twips (1/1440 inch); at 96 dots per
// inch 15 twips make one pixel.
inline constexpr int32_t kTwipsPerPixel = 15;

enum class LayoutProperty {
  ListWidth,        // lvMain width
  ListHeight,       // lvMain height
  StatusBarWidth,   // StatusBar1 width
  CoolBarWidth,     // CoolBar1 width
  PowerButtonLeft,  // asxPowerButton1 left, within boxDomains
  ComboWidth,       // comboDomains width
};

struct LayoutAssignment {
  LayoutProperty property;
  int32_t twips;
};

// The assignments for a window whose outer size is width x height twips, in
// the order they run. A width or height that would come out negative cannot
// be set: that assignment is left out and the control keeps its last value;
// the others still apply. A position may be negative.
std::vector<LayoutAssignment> ResizeRules(int32_t outerWidth, int32_t outerHeight);

struct WindowOrigin {
  int32_t left;
  int32_t top;
};

// Where a window of the given outer size (frame and title bar included)
// stands centred on the screen area given: the same rule, in the same units,
// for the splash and the main window of both toolkits.
WindowOrigin CentredOrigin(int32_t screenLeft, int32_t screenTop, int32_t screenWidth,
                           int32_t screenHeight, int32_t outerWidth, int32_t outerHeight);

}  // namespace quorvix

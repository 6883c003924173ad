#include "ResizeRules.h"

#include <gtest/gtest.h>

#include <optional>

namespace quorvix {
namespace {

std::optional<int32_t> Find(const std::vector<LayoutAssignment>& v, LayoutProperty p) {
  for (const LayoutAssignment& a : v)
    if (a.property == p) return a.twips;
  return std::nullopt;
}

TEST(ResizeRules, DesignSizeGivesTheDesignLayoutInOrder) {
  // The outer size the window was drawn at: list 6735 x 5415, combo 5955.
  const auto v = ResizeRules(6855, 7065);
  ASSERT_EQ(v.size(), 6u);
  const LayoutProperty order[] = {LayoutProperty::ListWidth,       LayoutProperty::ListHeight,
                                  LayoutProperty::StatusBarWidth,  LayoutProperty::CoolBarWidth,
                                  LayoutProperty::PowerButtonLeft, LayoutProperty::ComboWidth};
  for (size_t i = 0; i < v.size(); ++i) EXPECT_EQ(v[i].property, order[i]) << i;
  EXPECT_EQ(v[0].twips, 6735);
  EXPECT_EQ(v[1].twips, 5415);
  EXPECT_EQ(v[2].twips, 6855);
  EXPECT_EQ(v[3].twips, 6735);
  EXPECT_EQ(v[4].twips, 6105);
  EXPECT_EQ(v[5].twips, 5955);
}

TEST(ResizeRules, NegativeSizesAreSkippedAndTheOthersStillApply) {
  // Too low for the list: its height is left out, everything else applies.
  auto v = ResizeRules(6000, 1500);
  EXPECT_FALSE(Find(v, LayoutProperty::ListHeight));
  EXPECT_EQ(Find(v, LayoutProperty::ListWidth), 5880);
  EXPECT_EQ(Find(v, LayoutProperty::ComboWidth), 5100);
  EXPECT_EQ(v.size(), 5u);

  // Exactly at the edge a size of 0 is still a size.
  v = ResizeRules(900, 1650);
  EXPECT_EQ(Find(v, LayoutProperty::ListHeight), 0);
  EXPECT_EQ(Find(v, LayoutProperty::ComboWidth), 0);

  // Narrower than the combo's margin: its width is skipped, the button's
  // left goes negative (a position, not a size) and is kept.
  v = ResizeRules(600, 3000);
  EXPECT_FALSE(Find(v, LayoutProperty::ComboWidth));
  EXPECT_EQ(Find(v, LayoutProperty::PowerButtonLeft), -150);
  EXPECT_EQ(Find(v, LayoutProperty::ListWidth), 480);

  // A minimized window reports next to nothing: only what can be set is.
  v = ResizeRules(0, 0);
  ASSERT_EQ(v.size(), 2u);
  EXPECT_EQ(v[0].property, LayoutProperty::StatusBarWidth);
  EXPECT_EQ(v[0].twips, 0);
  EXPECT_EQ(v[1].property, LayoutProperty::PowerButtonLeft);
  EXPECT_EQ(v[1].twips, -750);
}

TEST(ResizeRules, ExtremeSizesDoNotWrapAround) {
  auto v = ResizeRules(INT32_MIN, INT32_MIN);
  // INT32_MIN - 750 does not fit: the position is dropped rather than wrapped.
  EXPECT_TRUE(v.empty());
  v = ResizeRules(INT32_MAX, INT32_MAX);
  EXPECT_EQ(Find(v, LayoutProperty::StatusBarWidth), INT32_MAX);
  EXPECT_EQ(Find(v, LayoutProperty::ListHeight), INT32_MAX - 1650);
}

}  // namespace
}  // namespace quorvix

namespace quorvix {
namespace {

TEST(ResizeRules, WindowsAreCentredByTheirOuterSize) {
  // 1024 x 768 screen, the main window's outer size of 457 x 471 pixels.
  const WindowOrigin o = CentredOrigin(0, 0, 1024, 768, 457, 471);
  EXPECT_EQ(o.left, 283);
  EXPECT_EQ(o.top, 148);
  // A second screen to the right; a window larger than the screen goes off its edge.
  const WindowOrigin big = CentredOrigin(1024, 0, 800, 600, 1000, 700);
  EXPECT_EQ(big.left, 924);
  EXPECT_EQ(big.top, -50);
}

}  // namespace
}  // namespace quorvix

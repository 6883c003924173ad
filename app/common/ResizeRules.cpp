#include "ResizeRules.h"

#include <cstdint>
#include <iterator>

namespace quorvix {

std::vector<LayoutAssignment> ResizeRules(int32_t outerWidth, int32_t outerHeight) {
  // 64-bit arithmetic: an absurd outer size must not overflow into a valid value.
  const int64_t w = outerWidth;
  const int64_t h = outerHeight;
  struct Rule {
    LayoutProperty property;
    int64_t value;
    bool isSize;  // sizes cannot be negative; positions can
  };
  const Rule rules[] = {
      {LayoutProperty::ListWidth, w - 120, true},
      {LayoutProperty::ListHeight, h - 1650, true},
      {LayoutProperty::StatusBarWidth, w, true},
      {LayoutProperty::CoolBarWidth, w - 120, true},
      {LayoutProperty::PowerButtonLeft, w - 750, false},
      {LayoutProperty::ComboWidth, w - 900, true},
  };
  std::vector<LayoutAssignment> out;
  out.reserve(std::size(rules));
  for (const Rule& r : rules) {
    if (r.isSize && r.value < 0) continue;
    if (r.value < INT32_MIN || r.value > INT32_MAX) continue;
    out.push_back({r.property, static_cast<int32_t>(r.value)});
  }
  return out;
}

WindowOrigin CentredOrigin(int32_t screenLeft, int32_t screenTop, int32_t screenWidth,
                           int32_t screenHeight, int32_t outerWidth, int32_t outerHeight) {
  return {static_cast<int32_t>(screenLeft + (int64_t{screenWidth} - outerWidth) / 2),
          static_cast<int32_t>(screenTop + (int64_t{screenHeight} - outerHeight) / 2)};
}

}  // namespace quorvix

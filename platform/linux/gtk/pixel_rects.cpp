#include "platform/linux/gtk/pixel_rects.h"

#include <algorithm>
#include <cmath>

namespace gtk_splash {

bool IsEmpty(const ui::Rect& r) { return r.width <= 0 || r.height <= 0; }

ui::Rect UnionOf(const ui::Rect& a, const ui::Rect& b) {
  if (IsEmpty(a)) return b;
  if (IsEmpty(b)) return a;
  const std::int32_t left = std::min(a.x, b.x);
  const std::int32_t top = std::min(a.y, b.y);
  const std::int32_t right = std::max(a.x + a.width, b.x + b.width);
  const std::int32_t bottom = std::max(a.y + a.height, b.y + b.height);
  return {left, top, right - left, bottom - top};
}

ui::Rect Covering(double x, double y, double width, double height) {
  const double left = std::floor(x), top = std::floor(y);
  const double right = std::ceil(x + width), bottom = std::ceil(y + height);
  constexpr double kLimit = 1 << 30;  // far outside any surface; keeps the casts defined
  const auto clamp = [](double v) { return std::fmax(-kLimit, std::fmin(v, kLimit)); };
  return {static_cast<std::int32_t>(clamp(left)), static_cast<std::int32_t>(clamp(top)),
          static_cast<std::int32_t>(clamp(right) - clamp(left)), static_cast<std::int32_t>(clamp(bottom) - clamp(top))};
}

}  // namespace gtk_splash

// Whole-pixel rectangles of the splash's surfaces.
#pragma once

#include "ui/geometry.h"

namespace gtk_splash {

// The smallest rectangle holding both (an empty one holds nothing).
ui::Rect UnionOf(const ui::Rect& a, const ui::Rect& b);
bool IsEmpty(const ui::Rect& r);
// The whole pixels a rectangle of fractional coordinates touches.
ui::Rect Covering(double x, double y, double width, double height);

}  // namespace gtk_splash

// Which part of a window's content a new drawing changes, so a backend can show only that part.
#pragma once

#include <cstdint>

#include "ui/geometry.h"

namespace ui {

// The smallest rectangle holding every pixel of the premultiplied ARGB rows (top-down, `width`
// pixels each) that is not fully transparent; empty (zero size) when every pixel is 0.
Rect DrawnBounds(const std::uint32_t* pixels, int width, int height);

// The smallest rectangle holding both; an empty rectangle adds nothing.
Rect BoundsUnion(const Rect& a, const Rect& b);

}  // namespace ui

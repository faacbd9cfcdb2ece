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

// The part of a `width` x `height` window that a backend shows when its content is `drawn` and it
// showed `extent` so far: `extent` itself while it holds `drawn`, otherwise their union widened
// to whole cells of kExtentCell pixels and kept inside the window. It never shrinks, so content
// that changes in place (the stage text's dots) keeps one size, and one that grows (the progress
// fill) changes it only once a cell.
constexpr int kExtentCell = 32;
Rect CoveringExtent(const Rect& extent, const Rect& drawn, int width, int height);

}  // namespace ui

// Nine-slice arithmetic: where the nine parts of an image go for an element's size.
//
// The insets are clamped to the element, left and top first, so an element narrower than its
// left inset shows only the left part of the left column and the right column takes what is
// left over: a fill that grows from width 0 shows its left cap first and its right cap last.
// Corners keep their own size, edges stretch along their length, the centre in both directions.
#pragma once

#include <array>

#include "ui/geometry.h"

namespace ui {

struct ImagePart {
  RectF source;
  RectF destination;
};

// The nine parts in drawing order: four corners (top-left, top-right, bottom-left,
// bottom-right), centre, top, bottom, left and right edges.
std::array<ImagePart, 9> Slice9Parts(const Rect& element, int imageWidth, int imageHeight, const Insets& insets);

}  // namespace ui

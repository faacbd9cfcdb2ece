#include "ui/drawn_bounds.h"

#include <algorithm>
#include <cstddef>

namespace ui {
namespace {

bool RowIsClear(const std::uint32_t* row, int width) {
  return std::all_of(row, row + width, [](std::uint32_t pixel) { return pixel == 0; });
}

bool IsEmptyRect(const Rect& r) { return r.width <= 0 || r.height <= 0; }

bool Contains(const Rect& outer, const Rect& inner) {
  if (IsEmptyRect(outer)) return false;
  return inner.x >= outer.x && inner.y >= outer.y &&
         std::int64_t{inner.x} + inner.width <= std::int64_t{outer.x} + outer.width &&
         std::int64_t{inner.y} + inner.height <= std::int64_t{outer.y} + outer.height;
}

std::int64_t RoundUpToCell(std::int64_t value) {
  if (value <= 0) return 0;
  return (value + kExtentCell - 1) / kExtentCell * kExtentCell;
}

}  // namespace

Rect DrawnBounds(const std::uint32_t* pixels, int width, int height) {
  if (!pixels || width <= 0 || height <= 0) return {};
  const auto row = [&](int y) { return pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(width); };
  int top = 0;
  while (top < height && RowIsClear(row(top), width)) ++top;
  if (top == height) return {};
  int bottom = height - 1;
  while (RowIsClear(row(bottom), width)) --bottom;
  int left = width;
  int right = -1;
  for (int y = top; y <= bottom; ++y) {
    const std::uint32_t* line = row(y);
    // Only the columns outside what is already known can widen the bounds.
    for (int x = 0; x < left; ++x)
      if (line[x] != 0) {
        left = x;
        break;
      }
    for (int x = width - 1; x > right; --x)
      if (line[x] != 0) {
        right = x;
        break;
      }
  }
  return Rect{left, top, right - left + 1, bottom - top + 1};
}

Rect BoundsUnion(const Rect& a, const Rect& b) {
  if (IsEmptyRect(a)) return IsEmptyRect(b) ? Rect{} : b;
  if (IsEmptyRect(b)) return a;
  const std::int32_t left = std::min(a.x, b.x);
  const std::int32_t top = std::min(a.y, b.y);
  const std::int32_t right = std::max(a.x + a.width, b.x + b.width);
  const std::int32_t bottom = std::max(a.y + a.height, b.y + b.height);
  return Rect{left, top, right - left, bottom - top};
}

Rect CoveringExtent(const Rect& extent, const Rect& drawn, int width, int height) {
  if (IsEmptyRect(drawn) || Contains(extent, drawn)) return extent;
  const Rect wanted = BoundsUnion(extent, drawn);
  // Cells counted from the window's corner; division of non-negative values only.
  const std::int32_t left = std::max(wanted.x, 0) / kExtentCell * kExtentCell;
  const std::int32_t top = std::max(wanted.y, 0) / kExtentCell * kExtentCell;
  const std::int64_t right = RoundUpToCell(std::int64_t{wanted.x} + wanted.width);
  const std::int64_t bottom = RoundUpToCell(std::int64_t{wanted.y} + wanted.height);
  const auto r = static_cast<std::int32_t>(std::min<std::int64_t>(right, width));
  const auto b = static_cast<std::int32_t>(std::min<std::int64_t>(bottom, height));
  if (r <= left || b <= top) return extent;
  return Rect{left, top, r - left, b - top};
}

}  // namespace ui

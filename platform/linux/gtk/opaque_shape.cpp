#include "platform/linux/gtk/opaque_shape.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace gtk_splash {
namespace {

bool SameRuns(const std::vector<ui::Rect>& rects, std::size_t bandStart, const std::vector<ui::Rect>& row) {
  if (rects.size() - bandStart != row.size()) return false;
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (rects[bandStart + i].x != row[i].x || rects[bandStart + i].width != row[i].width) return false;
  }
  return true;
}

}  // namespace

std::vector<ui::Rect> OpaqueRectangles(cairo_surface_t* surface, const ui::Rect& area) {
  cairo_surface_flush(surface);
  const int width = std::min(cairo_image_surface_get_width(surface), area.x + area.width);
  const int height = std::min(cairo_image_surface_get_height(surface), area.y + area.height);
  const int stride = cairo_image_surface_get_stride(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  std::vector<ui::Rect> rects;
  std::vector<ui::Rect> row;
  std::size_t bandStart = 0;
  for (int y = std::max(area.y, 0); y < height; ++y) {
    const unsigned char* pixels = data + static_cast<std::ptrdiff_t>(y) * stride;
    const auto opaque = [pixels](int x) {
      std::uint32_t pixel;
      std::memcpy(&pixel, pixels + static_cast<std::ptrdiff_t>(x) * 4, sizeof pixel);
      return (pixel >> 24) != 0;
    };
    row.clear();
    for (int x = std::max(area.x, 0); x < width;) {
      if (!opaque(x)) {
        ++x;
        continue;
      }
      const int start = x;
      while (x < width && opaque(x)) ++x;
      row.push_back({start, y, x - start, 1});
    }
    const bool bandEndsHere = bandStart < rects.size() && rects[bandStart].y + rects[bandStart].height == y;
    if (!row.empty() && bandEndsHere && SameRuns(rects, bandStart, row)) {
      for (std::size_t i = bandStart; i < rects.size(); ++i) ++rects[i].height;
    } else if (!row.empty()) {
      bandStart = rects.size();
      rects.insert(rects.end(), row.begin(), row.end());
    }
  }
  return rects;
}

}  // namespace gtk_splash

// Drawing seam of the splash: decoded images, font families and an off-screen 32-bit surface.
//
// A backend (cairo + pango on Linux, GDI+ on Windows) implements, for its build:
//   - LoadPngResource(id): decode the PNG embedded under integer id (type "PNG"); null when the
//     resource is absent, empty or memory runs out. A resource that does not decode yields an
//     image of size 0 x 0 that draws nothing (not null).
//   - CreateFontFamily(gbkName): the typeface for labels; null when it cannot be made (the label
//     then draws nothing). The Linux backend substitutes a family list for the Song typeface.
//   - CreateSurface(width, height): a surface of 32-bit premultiplied ARGB pixels, all zero at
//     creation; null when it cannot be made.
//   - Canvas::DrawImagePart: the source part of the image scaled into the destination, each
//     pixel passed through the colour matrix (see color_matrix.h), blended source-over. Parts of
//     zero or negative size draw nothing. Failures are ignored.
//   - Canvas::DrawString: GBK text converted explicitly from code page 936, in the family, style
//     (1 = bold) and em size in pixels, colour `color`, its layout box's top-left corner at
//     (x, y), neither wrapped nor clipped. Failures are ignored.
// Nothing else (what to draw, when, dirty flags, hit-testing) belongs to a backend.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ui/color_matrix.h"
#include "ui/geometry.h"

namespace ui {

class Image {
 public:
  virtual ~Image() = default;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
};

class FontFamily {
 public:
  virtual ~FontFamily() = default;
};

constexpr int kFontStyleBold = 1;

class Canvas {
 public:
  virtual ~Canvas() = default;
  virtual void DrawImagePart(const Image& image, const RectF& destination, const RectF& source,
                             const ColorMatrix& matrix) = 0;
  virtual void DrawString(const std::string& gbkText, const FontFamily& family, int style, float emSizePx, float x,
                          float y, Argb color) = 0;
};

class Surface {
 public:
  virtual ~Surface() = default;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual Canvas& GetCanvas() = 0;
  // Premultiplied ARGB of one pixel; 0 outside the surface. Flushes pending drawing first.
  virtual std::uint32_t PixelAt(int x, int y) = 0;
};

std::unique_ptr<Image> LoadPngResource(unsigned resourceId);
std::unique_ptr<FontFamily> CreateFontFamily(const std::string& gbkName);
std::unique_ptr<Surface> CreateSurface(int width, int height);

}  // namespace ui

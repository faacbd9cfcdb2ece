// The splash's drawing backend on Linux: cairo image surfaces (premultiplied ARGB32, the same
// layout as the splash's pixels) and pango text.
#pragma once

#include "platform/linux/gtk/cairo_owners.h"
#include "platform/linux/gtk/pixel_buffer_pool.h"
#include "ui/canvas.h"

namespace gtk_splash {

class CairoImage : public ui::Image {
 public:
  explicit CairoImage(CairoSurfacePtr surface);
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  cairo_surface_t* Surface() const { return surface_.get(); }

 private:
  CairoSurfacePtr surface_;
  int width_;
  int height_;
};

class PangoFontFamily : public ui::FontFamily {
 public:
  explicit PangoFontFamily(std::string families) : families_(std::move(families)) {}
  const std::string& Families() const { return families_; }

 private:
  std::string families_;  // a comma-separated family list, UTF-8
};

class CairoSurface : public ui::Surface, private ui::Canvas {
 public:
  // `buffer` holds the pixels of `surface` and lives as long as it.
  CairoSurface(CairoSurfacePtr surface, CairoPtr context, PixelBuffer* buffer);
  int Width() const override;
  int Height() const override;
  ui::Canvas& GetCanvas() override { return *this; }
  std::uint32_t PixelAt(int x, int y) override;
  cairo_surface_t* Native() { return surface_.get(); }
  // Every pixel outside this rectangle is still zero: what the window needs to show, shape
  // and repaint of this surface lies within.
  ui::Rect DrawnBounds() const { return buffer_->drawn; }

 private:
  void AddDrawn(const ui::Rect& area);

  void DrawImagePart(const ui::Image& image, const ui::RectF& destination, const ui::RectF& source,
                     const ui::ColorMatrix& matrix) override;
  void DrawString(const std::string& gbkText, const ui::FontFamily& family, int style, float emSizePx, float x, float y,
                  ui::Argb color) override;

  CairoSurfacePtr surface_;
  CairoPtr cairo_;
  PixelBuffer* buffer_;
};

// A copy of `source` with every pixel passed through `matrix`.
CairoSurfacePtr ApplyMatrix(cairo_surface_t* source, const ui::ColorMatrix& matrix);

}  // namespace gtk_splash

// A window's input shape is exactly its pixels with alpha above 0 (a pixel at alpha 1 still
// takes the press; a transparent one lets it through), sent in the YX-banded order X relies on:
// a wrong order or an overlap makes the server reject or misread the whole shape.
#include "platform/linux/gtk/opaque_shape.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/linux/gtk/cairo_owners.h"

namespace {

constexpr int kWidth = 120, kHeight = 70;

struct Canvas {
  gtk_splash::CairoSurfacePtr surface{cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kWidth, kHeight)};
  gtk_splash::CairoPtr cr{cairo_create(surface.get())};

  void Fill(double x, double y, double w, double h, double alpha) {
    cairo_set_source_rgba(cr.get(), 1, 0, 0, alpha);
    cairo_rectangle(cr.get(), x, y, w, h);
    cairo_fill(cr.get());
  }
  bool Opaque(int x, int y) {
    cairo_surface_flush(surface.get());
    std::uint32_t pixel;
    std::memcpy(&pixel,
                cairo_image_surface_get_data(surface.get()) + y * cairo_image_surface_get_stride(surface.get()) + x * 4,
                sizeof pixel);
    return (pixel >> 24) != 0;
  }
};

// Every pixel covered exactly once by the rectangles exactly where alpha is above 0, in YX-banded order.
void ExpectExactBandedShape(Canvas& canvas, const std::vector<ui::Rect>& rects) {
  std::vector<int> covered(kWidth * kHeight, 0);
  for (std::size_t i = 0; i < rects.size(); ++i) {
    const ui::Rect& r = rects[i];
    ASSERT_GT(r.width, 0);
    ASSERT_GT(r.height, 0);
    for (int y = r.y; y < r.y + r.height; ++y)
      for (int x = r.x; x < r.x + r.width; ++x) ++covered[y * kWidth + x];
    if (i == 0) continue;
    const ui::Rect& before = rects[i - 1];
    if (before.y == r.y) {
      EXPECT_EQ(before.height, r.height) << "rectangles " << i - 1 << " and " << i << " share a band";
      EXPECT_LT(before.x + before.width, r.x + 1) << "rectangle " << i << " overlaps or precedes the one before";
    } else {
      EXPECT_GE(r.y, before.y + before.height) << "band of rectangle " << i << " starts inside the band above";
    }
  }
  int wrong = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      if (covered[y * kWidth + x] != (canvas.Opaque(x, y) ? 1 : 0)) ++wrong;
  EXPECT_EQ(wrong, 0);
}

TEST(OpaqueShape, SolidBlockIsOneRectangle) {
  Canvas canvas;
  canvas.Fill(10, 5, 60, 40, 1);
  const auto rects = gtk_splash::OpaqueRectangles(canvas.surface.get(), {0, 0, kWidth, kHeight});
  ASSERT_EQ(rects.size(), 1u);
  EXPECT_EQ(rects[0], (ui::Rect{10, 5, 60, 40}));
}

TEST(OpaqueShape, HoldsExactlyThePixelsAboveZeroAlpha) {
  Canvas canvas;
  canvas.Fill(10, 5, 60, 40, 1);
  canvas.Fill(30, 20, 80, 30, 0.5);       // overlapping, wider: bands split and rejoin
  canvas.Fill(2.5, 55.5, 30, 10, 0.002);  // faint edges round to alpha 0 or 1, and still count
  cairo_set_operator(canvas.cr.get(), CAIRO_OPERATOR_CLEAR);
  canvas.Fill(40, 10, 5, 50, 1);  // a transparent cut through both
  cairo_set_operator(canvas.cr.get(), CAIRO_OPERATOR_OVER);
  canvas.Fill(119, 69, 1, 1, 1);  // the last pixel
  const auto rects = gtk_splash::OpaqueRectangles(canvas.surface.get(), {0, 0, kWidth, kHeight});
  EXPECT_LT(rects.size(), 40u);  // bands of equal rows are joined
  ExpectExactBandedShape(canvas, rects);
}

TEST(OpaqueShape, EmptySurfaceHasNoShape) {
  Canvas canvas;
  EXPECT_TRUE(gtk_splash::OpaqueRectangles(canvas.surface.get(), {0, 0, kWidth, kHeight}).empty());
  EXPECT_TRUE(gtk_splash::OpaqueRectangles(canvas.surface.get(), {}).empty());
}

}  // namespace

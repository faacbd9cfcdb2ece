// Whole-window surfaces reuse the pixel memory of released ones: a reused surface must start
// all zero again, and nothing may be drawn outside the part a surface reports as drawn (the
// window's repaint and shape are limited to it).
#include <gtest/gtest.h>

#include <string>

#include "app/texts.h"
#include "platform/linux/gtk/cairo_canvas.h"
#include "ui/canvas.h"
#include "ui/color_matrix.h"
#include "ui/main_screen.h"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 90;

// Pixels that are not zero, and those of them outside `bounds`.
struct Ink {
  int total = 0;
  int outside = 0;
};

Ink CountInk(ui::Surface& surface, const ui::Rect& bounds) {
  Ink ink;
  for (int y = 0; y < surface.Height(); ++y) {
    for (int x = 0; x < surface.Width(); ++x) {
      if (surface.PixelAt(x, y) == 0) continue;
      ++ink.total;
      const bool inside = x >= bounds.x && y >= bounds.y && x < bounds.x + bounds.width && y < bounds.y + bounds.height;
      if (!inside) ++ink.outside;
    }
  }
  return ink;
}

void DrawSample(ui::Surface& surface, float textX, float textY) {
  const auto family = ui::CreateFontFamily(texts::kFontFamily);
  ASSERT_NE(family, nullptr);
  surface.GetCanvas().DrawString(texts::kNoticeLine1, *family, ui::kFontStyleBold, 20, textX, textY, ui::kOpaqueWhite);
  const auto image = ui::LoadPngResource(ui::kProgressFillImage);
  ASSERT_NE(image, nullptr);
  surface.GetCanvas().DrawImagePart(*image, {250.5f, 60.25f, 40.5f, 17.5f},
                                    {0, 0, static_cast<float>(image->Width()), static_cast<float>(image->Height())},
                                    ui::TintMatrix(ui::kOpaqueWhite));
}

TEST(SurfaceReuse, DrawnBoundsHoldEveryDrawnPixel) {
  auto surface = ui::CreateSurface(kWidth, kHeight);
  ASSERT_NE(surface, nullptr);
  DrawSample(*surface, 3.5f, -4.25f);  // partly above the surface: the bounds stay inside it
  const ui::Rect bounds = static_cast<gtk_splash::CairoSurface&>(*surface).DrawnBounds();
  EXPECT_GE(bounds.x, 0);
  EXPECT_EQ(bounds.y, 0);
  EXPECT_LE(bounds.x + bounds.width, kWidth);
  EXPECT_LE(bounds.y + bounds.height, kHeight);
  const Ink ink = CountInk(*surface, bounds);
  EXPECT_GT(ink.total, 500);
  EXPECT_EQ(ink.outside, 0);
  // The bounds follow the drawing instead of covering the surface.
  EXPECT_LT(bounds.width * bounds.height, kWidth * kHeight);
}

TEST(SurfaceReuse, ASurfaceMadeAfterOthersWereReleasedStartsAllZero) {
  for (int round = 0; round < 4; ++round) {
    auto first = ui::CreateSurface(kWidth, kHeight);
    auto second = ui::CreateSurface(kWidth, kHeight);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    DrawSample(*first, 10.0f + 7 * round, 5.0f + 3 * round);
    DrawSample(*second, 40.0f, 30.0f);
    first.reset();
    second.reset();
    auto reused = ui::CreateSurface(kWidth, kHeight);
    ASSERT_NE(reused, nullptr);
    EXPECT_EQ(CountInk(*reused, {0, 0, kWidth, kHeight}).total, 0) << "round " << round;
    EXPECT_EQ(static_cast<gtk_splash::CairoSurface&>(*reused).DrawnBounds(), ui::Rect{});
  }
}

TEST(SurfaceReuse, ContentStillShownKeepsItsPixels) {
  // A window keeps its last content (a cairo reference) after the render pass drops the surface.
  auto surface = ui::CreateSurface(kWidth, kHeight);
  ASSERT_NE(surface, nullptr);
  DrawSample(*surface, 10.0f, 10.0f);
  auto& cairoSurface = static_cast<gtk_splash::CairoSurface&>(*surface);
  cairo_surface_t* shown = cairo_surface_reference(cairoSurface.Native());
  const Ink before = CountInk(*surface, cairoSurface.DrawnBounds());
  surface.reset();
  auto other = ui::CreateSurface(kWidth, kHeight);  // must not get the shown pixels
  ASSERT_NE(other, nullptr);
  DrawSample(*other, 100.0f, 40.0f);
  int shownInk = 0;
  cairo_surface_flush(shown);
  const unsigned char* data = cairo_image_surface_get_data(shown);
  const int stride = cairo_image_surface_get_stride(shown);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      if (data[y * stride + x * 4 + 3] != 0) ++shownInk;
  cairo_surface_destroy(shown);
  EXPECT_EQ(shownInk, before.total);
}

}  // namespace

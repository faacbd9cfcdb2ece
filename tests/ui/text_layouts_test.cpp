// Texts laid out once are drawn again from the kept layout, but never with the font options of
// another surface: a layout made for greyscale text must not draw on a surface that asks for
// plain black and white.
#include "platform/linux/gtk/text_layouts.h"

#include <gtest/gtest.h>
#include <pango/pangocairo.h>

#include <string>

#include "app/texts.h"
#include "platform/linux/gtk/cairo_owners.h"

namespace {

using gtk_splash::CairoPtr;
using gtk_splash::CairoSurfacePtr;
using gtk_splash::TextLayouts;

const std::string kFamilies = "WenQuanYi Zen Hei";

struct Canvas {
  CairoSurfacePtr surface{cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 400, 40)};
  CairoPtr cr{cairo_create(surface.get())};
};

// Pixels drawn at all, and those of them only partly covered.
struct Coverage {
  int drawn = 0;
  int partial = 0;
};

Coverage Draw(Canvas& canvas, PangoLayout* layout) {
  cairo_set_source_rgba(canvas.cr.get(), 1, 1, 1, 1);
  cairo_move_to(canvas.cr.get(), 2, 2);
  pango_cairo_show_layout(canvas.cr.get(), layout);
  cairo_surface_flush(canvas.surface.get());
  Coverage coverage;
  const int stride = cairo_image_surface_get_stride(canvas.surface.get());
  const unsigned char* data = cairo_image_surface_get_data(canvas.surface.get());
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 400; ++x) {
      const std::uint32_t pixel = *reinterpret_cast<const std::uint32_t*>(data + y * stride + x * 4);
      const unsigned alpha = pixel >> 24;
      if (alpha != 0) ++coverage.drawn;
      if (alpha != 0 && alpha != 255) ++coverage.partial;
    }
  }
  return coverage;
}

TEST(TextLayouts, KeepsOneLayoutPerTextAndFont) {
  TextLayouts layouts;
  Canvas canvas;
  PangoLayout* first = layouts.Get(canvas.cr.get(), kFamilies, true, 12, texts::kNoticeLine1);
  EXPECT_EQ(layouts.Get(canvas.cr.get(), kFamilies, true, 12, texts::kNoticeLine1), first);

  PangoLayout* larger = layouts.Get(canvas.cr.get(), kFamilies, true, 18, texts::kNoticeLine1);
  PangoLayout* other = layouts.Get(canvas.cr.get(), kFamilies, true, 12, texts::kNoticeLine2);
  EXPECT_NE(larger, first);
  EXPECT_NE(other, first);
  int smallWidth = 0, largeWidth = 0, height = 0;
  pango_layout_get_pixel_size(layouts.Get(canvas.cr.get(), kFamilies, true, 12, texts::kNoticeLine1), &smallWidth,
                              &height);
  pango_layout_get_pixel_size(layouts.Get(canvas.cr.get(), kFamilies, true, 18, texts::kNoticeLine1), &largeWidth,
                              &height);
  EXPECT_GT(largeWidth, smallWidth * 5 / 4);
  EXPECT_STRNE(pango_layout_get_text(other), pango_layout_get_text(first));
}

TEST(TextLayouts, FollowTheFontOptionsOfTheSurfaceDrawnOn) {
  TextLayouts layouts;
  Canvas grey;
  const Coverage smooth = Draw(grey, layouts.Get(grey.cr.get(), kFamilies, true, 20, texts::kNoticeLine1));
  EXPECT_GT(smooth.drawn, 300);
  EXPECT_GT(smooth.partial, 50);

  Canvas plain;
  gtk_splash::FontOptionsPtr options(cairo_font_options_create());
  cairo_font_options_set_antialias(options.get(), CAIRO_ANTIALIAS_NONE);
  cairo_set_font_options(plain.cr.get(), options.get());
  const Coverage sharp = Draw(plain, layouts.Get(plain.cr.get(), kFamilies, true, 20, texts::kNoticeLine1));
  EXPECT_GT(sharp.drawn, 300);
  EXPECT_EQ(sharp.partial, 0);

  // And back: the greyscale surface gets greyscale text again.
  Canvas greyAgain;
  EXPECT_GT(Draw(greyAgain, layouts.Get(greyAgain.cr.get(), kFamilies, true, 20, texts::kNoticeLine1)).partial, 50);
}

}  // namespace

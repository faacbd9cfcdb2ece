// Texts are drawn from kept images: the same pixels as drawing the glyphs in place, made again
// for another text, style or sub-pixel place, and never with the font options of another
// surface (an image made for greyscale text must not land on a surface that asks for plain
// black and white).
#include "platform/linux/gtk/text_images.h"

#include <gtest/gtest.h>
#include <pango/pangocairo.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "app/texts.h"
#include "platform/text_encoding.h"

namespace {

using gtk_splash::CairoPtr;
using gtk_splash::CairoSurfacePtr;
using gtk_splash::TextImage;
using gtk_splash::TextImages;
using gtk_splash::TextStyle;

constexpr int kWidth = 420, kHeight = 48;
const TextStyle kWhite{"WenQuanYi Zen Hei", true, 20, 0xFFFFFFFFu};

struct Canvas {
  CairoSurfacePtr surface{cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kWidth, kHeight)};
  CairoPtr cr{cairo_create(surface.get())};

  std::uint32_t At(int x, int y) {
    cairo_surface_flush(surface.get());
    std::uint32_t pixel;
    std::memcpy(&pixel,
                cairo_image_surface_get_data(surface.get()) + y * cairo_image_surface_get_stride(surface.get()) + x * 4,
                sizeof pixel);
    return pixel;
  }
  void Paint(const TextImage& text) {
    cairo_set_source_surface(cr.get(), text.pixels, text.area.x, text.area.y);
    cairo_rectangle(cr.get(), text.area.x, text.area.y, text.area.width, text.area.height);
    cairo_fill(cr.get());
  }
};

// Pixels drawn at all, and those of them only partly covered.
struct Coverage {
  int drawn = 0;
  int partial = 0;
};

Coverage CoverageOf(Canvas& canvas) {
  Coverage coverage;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const unsigned alpha = canvas.At(x, y) >> 24;
      if (alpha != 0) ++coverage.drawn;
      if (alpha != 0 && alpha != 255) ++coverage.partial;
    }
  }
  return coverage;
}

TEST(TextImages, KeepOneImagePerTextStyleAndSubPixelPlace) {
  TextImages images;
  Canvas canvas;
  const TextImage first = images.Get(canvas.cr.get(), kWhite, texts::kNoticeLine1, 10, 5);
  ASSERT_NE(first.pixels, nullptr);
  const TextImage again = images.Get(canvas.cr.get(), kWhite, texts::kNoticeLine1, 10, 5);
  EXPECT_EQ(again.pixels, first.pixels);

  // A whole-pixel move reuses the image at the moved place.
  const TextImage moved = images.Get(canvas.cr.get(), kWhite, texts::kNoticeLine1, 13, 2);
  EXPECT_EQ(moved.pixels, first.pixels);
  EXPECT_EQ(moved.area.x, first.area.x + 3);
  EXPECT_EQ(moved.area.y, first.area.y - 3);

  TextStyle larger = kWhite;
  larger.sizePx = 26;
  TextStyle cyan = kWhite;
  cyan.color = 0xFF00FFFFu;
  EXPECT_GT(images.Get(canvas.cr.get(), larger, texts::kNoticeLine1, 10, 5).area.width, first.area.width * 5 / 4);
  EXPECT_NE(images.Get(canvas.cr.get(), cyan, texts::kNoticeLine1, 10, 5).pixels, first.pixels);
  EXPECT_NE(images.Get(canvas.cr.get(), kWhite, texts::kNoticeLine2, 10, 5).pixels, first.pixels);
  EXPECT_NE(images.Get(canvas.cr.get(), kWhite, texts::kNoticeLine1, 10.5, 5).pixels, first.pixels);
}

TEST(TextImages, MatchGlyphsDrawnInPlaceOverAnyBackground) {
  for (const double x : {6.0, 6.5}) {
    Canvas viaImage, direct;
    for (Canvas* canvas : {&viaImage, &direct}) {
      cairo_set_source_rgba(canvas->cr.get(), 0.1, 0.3, 0.6, 0.8);  // premultiplied below: a blue at 80 %
      cairo_paint(canvas->cr.get());
    }
    TextImages images;
    TextStyle cyan = kWhite;
    cyan.color = 0xFF00FFFFu;
    const TextImage text = images.Get(viaImage.cr.get(), cyan, texts::kNoticeLine1, x, 7);
    ASSERT_NE(text.pixels, nullptr);
    viaImage.Paint(text);

    gtk_splash::GObjectPtr<PangoLayout> layout(pango_cairo_create_layout(direct.cr.get()));
    gtk_splash::FontDescriptionPtr font(pango_font_description_from_string("WenQuanYi Zen Hei Bold"));
    pango_font_description_set_absolute_size(font.get(), 20 * PANGO_SCALE);
    pango_layout_set_font_description(layout.get(), font.get());
    const std::string utf8 = platform::GbkToUtf8(texts::kNoticeLine1);
    pango_layout_set_text(layout.get(), utf8.c_str(), -1);
    cairo_set_source_rgba(direct.cr.get(), 0, 1, 1, 1);
    cairo_move_to(direct.cr.get(), x, 7);
    pango_cairo_show_layout(direct.cr.get(), layout.get());

    int differing = 0, worst = 0;
    for (int py = 0; py < kHeight; ++py) {
      for (int px = 0; px < kWidth; ++px) {
        const std::uint32_t a = viaImage.At(px, py), b = direct.At(px, py);
        if (a == b) continue;
        ++differing;
        for (int shift = 0; shift < 32; shift += 8)
          worst =
              std::max(worst, std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)));
      }
    }
    EXPECT_LE(worst, 1) << "at x " << x << ", " << differing << " pixels differ";
    EXPECT_GT(CoverageOf(viaImage).drawn, kWidth * kHeight - 10);  // the background is kept
  }
}

TEST(TextImages, FollowTheFontOptionsOfTheSurfaceDrawnOn) {
  TextImages images;
  Canvas grey;
  grey.Paint(images.Get(grey.cr.get(), kWhite, texts::kNoticeLine1, 2, 2));
  const Coverage smooth = CoverageOf(grey);
  EXPECT_GT(smooth.drawn, 300);
  EXPECT_GT(smooth.partial, 50);

  Canvas plain;
  gtk_splash::FontOptionsPtr options(cairo_font_options_create());
  cairo_font_options_set_antialias(options.get(), CAIRO_ANTIALIAS_NONE);
  cairo_set_font_options(plain.cr.get(), options.get());
  plain.Paint(images.Get(plain.cr.get(), kWhite, texts::kNoticeLine1, 2, 2));
  const Coverage sharp = CoverageOf(plain);
  EXPECT_GT(sharp.drawn, 300);
  EXPECT_EQ(sharp.partial, 0);

  // And back: the greyscale surface gets greyscale text again.
  Canvas greyAgain;
  greyAgain.Paint(images.Get(greyAgain.cr.get(), kWhite, texts::kNoticeLine1, 2, 2));
  EXPECT_GT(CoverageOf(greyAgain).partial, 50);
}

}  // namespace

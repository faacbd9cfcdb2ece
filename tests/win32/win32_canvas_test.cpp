// Drawing with GDI+ off-screen: PNG resources, image parts through the colour matrix, GBK text
// in the Song typeface, and a surface that really carries per-pixel alpha.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "app/texts.h"
#include "platform/win32/gdiplus_flat.h"
#include "platform/win32/gdiplus_surface.h"
#include "platform/win32/win32_window_host.h"
#include "ui/canvas.h"
#include "ui/color_matrix.h"
#include "ui/main_screen.h"

namespace {

class GdiplusSession : public ::testing::Environment {
 public:
  void SetUp() override {
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
  }
  void TearDown() override { Gdiplus::GdiplusShutdown(token_); }

 private:
  ULONG_PTR token_ = 0;
};
const auto* const gdiplusSession = ::testing::AddGlobalTestEnvironment(new GdiplusSession);

TEST(Win32Canvas, EmbeddedImagesDecodeAtTheirOwnSize) {
  const struct {
    unsigned id;
    int width, height;
  } images[] = {{ui::kCloseButtonImage, 49, 49},  {ui::kLogoImage, 92, 115},        {ui::kPartnerLogoImage, 748, 200},
                {ui::kSloganImage, 261, 123},     {ui::kBackgroundImage, 740, 328}, {ui::kProgressFillImage, 18, 15},
                {ui::kProgressTrackImage, 35, 11}};
  for (const auto& expected : images) {
    const auto image = ui::LoadPngResource(expected.id);
    ASSERT_NE(image, nullptr) << expected.id;
    EXPECT_EQ(image->Width(), expected.width) << expected.id;
    EXPECT_EQ(image->Height(), expected.height) << expected.id;
  }
  EXPECT_EQ(ui::LoadPngResource(999), nullptr);
  EXPECT_EQ(ui::LoadPngResource(ui::kProgramIcon), nullptr);  // an icon, not of type "PNG"
}

TEST(Win32Canvas, NewSurfaceIsFullyTransparent) {
  const auto surface = ui::CreateSurface(64, 32);
  ASSERT_NE(surface, nullptr);
  EXPECT_EQ(surface->Width(), 64);
  EXPECT_EQ(surface->Height(), 32);
  EXPECT_EQ(surface->PixelAt(0, 0), 0u);
  EXPECT_EQ(surface->PixelAt(63, 31), 0u);
  EXPECT_EQ(surface->PixelAt(64, 0), 0u);  // outside
}

TEST(Win32Canvas, ColourMatrixAlphaFadesAnImageAndTheSurfaceKeepsIt) {
  const auto fill = ui::LoadPngResource(ui::kProgressFillImage);
  ASSERT_NE(fill, nullptr);
  const auto surface = ui::CreateSurface(60, 20);
  ASSERT_NE(surface, nullptr);
  const ui::RectF source{0, 0, 18, 15};
  surface->GetCanvas().DrawImagePart(*fill, {0, 0, 18, 15}, source, ui::TintMatrix(ui::kOpaqueWhite));
  surface->GetCanvas().DrawImagePart(*fill, {30, 0, 18, 15}, source, ui::TintMatrix(0x80FFFFFFu));

  // The middle of the bar is opaque in the image: full alpha, then about half.
  const std::uint32_t opaque = surface->PixelAt(9, 7);
  const std::uint32_t faded = surface->PixelAt(39, 7);
  EXPECT_EQ(ui::AlphaOf(opaque), 255);
  EXPECT_NEAR(ui::AlphaOf(faded), 128, 3);
  // Premultiplied: no channel exceeds its alpha, and the colour is faded with it.
  EXPECT_LE(ui::GreenOf(faded), ui::AlphaOf(faded));
  EXPECT_NEAR(ui::GreenOf(faded), ui::GreenOf(opaque) / 2, 4);
  // Nothing was drawn between the two.
  EXPECT_EQ(surface->PixelAt(24, 7), 0u);
}

TEST(Win32Canvas, ImagePartsScaleIntoTheDestination) {
  const auto track = ui::LoadPngResource(ui::kProgressTrackImage);
  ASSERT_NE(track, nullptr);
  const auto surface = ui::CreateSurface(200, 20);
  ASSERT_NE(surface, nullptr);
  surface->GetCanvas().DrawImagePart(*track, {10, 0, 150, 11}, {6, 0, 23, 11}, ui::TintMatrix(ui::kOpaqueWhite));
  EXPECT_EQ(ui::AlphaOf(surface->PixelAt(80, 5)), 255);
  EXPECT_EQ(surface->PixelAt(5, 5), 0u);
  EXPECT_EQ(surface->PixelAt(170, 5), 0u);
  // A part of zero width draws nothing.
  const auto empty = ui::CreateSurface(20, 20);
  empty->GetCanvas().DrawImagePart(*track, {0, 0, 0, 11}, {0, 0, 6, 11}, ui::TintMatrix(ui::kOpaqueWhite));
  EXPECT_EQ(empty->PixelAt(0, 5), 0u);
}

TEST(Win32Canvas, GbkTextDrawsInTheSongTypefaceInItsColour) {
  const auto family = ui::CreateFontFamily(texts::kFontFamily);
  ASSERT_NE(family, nullptr) << "the Song typeface (or its replacement) is not installed";
  const auto surface = ui::CreateSurface(400, 40);
  ASSERT_NE(surface, nullptr);
  surface->GetCanvas().DrawString(texts::kDownloading, *family, ui::kFontStyleBold, 20, 10, 5, ui::kOpaqueCyan);

  int opaqueCyan = 0, redSeen = 0, outside = 0;
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 400; ++x) {
      const std::uint32_t pixel = surface->PixelAt(x, y);
      if (ui::AlphaOf(pixel) == 255 && ui::GreenOf(pixel) > 200 && ui::BlueOf(pixel) > 200) ++opaqueCyan;
      if (ui::RedOf(pixel) > 40) ++redSeen;
      if (pixel != 0 && (x < 9 || y < 4)) ++outside;
    }
  }
  EXPECT_GT(opaqueCyan, 50);
  EXPECT_EQ(redSeen, 0);
  EXPECT_EQ(outside, 0);  // the text's box starts at (x, y)
}

// A text at a whole pixel is drawn once and composed from that drawing afterwards; between
// pixels it is drawn directly. Both must put the same ink in the same place, over a background
// and on transparent pixels alike, or the splash's texts would shift or change when it repaints.
TEST(Win32Canvas, AKeptTextComposesAsItsOwnDrawingWould) {
  const auto family = ui::CreateFontFamily(texts::kFontFamily);
  ASSERT_NE(family, nullptr);
  const auto fill = ui::LoadPngResource(ui::kProgressFillImage);
  ASSERT_NE(fill, nullptr);
  const auto draw = [&](float x, float y) {
    auto surface = ui::CreateSurface(360, 48);
    // Half of the text over an opaque background, half over nothing.
    surface->GetCanvas().DrawImagePart(*fill, {0, 0, 120, 48}, {0, 0, 18, 15}, ui::TintMatrix(ui::kOpaqueWhite));
    surface->GetCanvas().DrawString(texts::kNoticeLine2, *family, ui::kFontStyleBold, 18, x, y, ui::kOpaqueCyan);
    std::vector<std::uint32_t> pixels;
    for (int row = 0; row < 48; ++row)
      for (int column = 0; column < 360; ++column) pixels.push_back(surface->PixelAt(column, row));
    return pixels;
  };
  const auto first = draw(12, 9);         // drawn, kept, composed
  const auto again = draw(12, 9);         // composed from what was kept
  const auto direct = draw(12.0001f, 9);  // drawn in place
  const auto moved = draw(15, 11);        // composed 3 right and 2 down
  EXPECT_EQ(first, again);
  int differing = 0, inked = 0, shiftedApart = 0;
  for (std::size_t i = 0; i < first.size(); ++i) {
    const int column = static_cast<int>(i % 360), row = static_cast<int>(i / 360);
    const auto channelGap = [](std::uint32_t a, std::uint32_t b, int shift) {
      return std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF));
    };
    int gap = 0;
    for (int shift : {0, 8, 16, 24}) gap = std::max(gap, channelGap(first[i], direct[i], shift));
    if (gap > 24) ++differing;
    if (column >= 120 && ui::AlphaOf(first[i]) != 0) ++inked;
    if (column + 3 < 360 && row + 2 < 48 && column >= 120) {
      const std::uint32_t shifted =
          moved[static_cast<std::size_t>(row + 2) * 360 + static_cast<std::size_t>(column + 3)];
      if (shifted != first[i]) ++shiftedApart;
    }
  }
  EXPECT_GT(inked, 200) << "the text's part over nothing carries its own alpha";
  EXPECT_LE(differing, 8) << "kept and direct drawing differ";
  EXPECT_EQ(shiftedApart, 0) << "a kept text moved by whole pixels is the same ink moved";
}

// Surfaces of one size share their pixel memory one after the other: whatever the last one drew
// must be gone from the next, and the bounds a surface reports must hold all it drew (a window
// shows and clears only that part).
TEST(Win32Canvas, AReusedSurfaceStartsClearAndItsBoundsHoldItsDrawing) {
  const auto family = ui::CreateFontFamily(texts::kFontFamily);
  const auto fill = ui::LoadPngResource(ui::kProgressFillImage);
  ASSERT_NE(family, nullptr);
  ASSERT_NE(fill, nullptr);
  constexpr int kWidth = 320, kHeight = 90;
  const auto inkOutside = [](platform::win32::GdiplusSurface& surface, const ui::Rect& bounds, int* total) {
    surface.FinishedDc();
    int outside = 0;
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        if (surface.Bits()[y * kWidth + x] == 0) continue;
        ++*total;
        if (x < bounds.x || y < bounds.y || x >= bounds.x + bounds.width || y >= bounds.y + bounds.height) ++outside;
      }
    }
    return outside;
  };
  for (int round = 0; round < 3; ++round) {
    auto surface = ui::CreateSurface(kWidth, kHeight);
    auto* gdiplus = dynamic_cast<platform::win32::GdiplusSurface*>(surface.get());
    ASSERT_NE(gdiplus, nullptr);
    int total = 0;
    EXPECT_EQ(inkOutside(*gdiplus, ui::Rect{}, &total), 0) << "round " << round << ": left over from the last one";
    EXPECT_EQ(gdiplus->DrawnBounds(), ui::Rect{});
    // Each round draws somewhere else, so a leftover of the round before shows.
    surface->GetCanvas().DrawString(texts::kNoticeLine1, *family, ui::kFontStyleBold, 20, 5.0f + 40 * round, 8,
                                    ui::kOpaqueWhite);
    surface->GetCanvas().DrawImagePart(*fill, {250.5f - 100 * round, 60.25f, 40.5f, 17.5f}, {0, 0, 18, 15},
                                       ui::TintMatrix(ui::kOpaqueWhite));
    const ui::Rect bounds = gdiplus->DrawnBounds();
    total = 0;
    EXPECT_EQ(inkOutside(*gdiplus, bounds, &total), 0) << "round " << round;
    EXPECT_GT(total, 500) << "round " << round;
    EXPECT_LT(bounds.x, 5 + 40 * round + 10) << "round " << round;  // the text's first glyph
    EXPECT_GE(bounds.y + bounds.height, 78) << "round " << round;
  }
}

TEST(Win32Canvas, MissingTypefaceGivesNoFamily) { EXPECT_EQ(ui::CreateFontFamily("No Such Typeface 12345"), nullptr); }

TEST(Win32Window, SplashIsCentredOnThePrimaryScreen) {
  const POINT wide = platform::win32::CentredOnScreen(1920, 1080, 1110, 492);
  EXPECT_EQ(wide.x, 405);
  EXPECT_EQ(wide.y, 294);
  const POINT small = platform::win32::CentredOnScreen(1366, 768, 1110, 492);
  EXPECT_EQ(small.x, 128);
  EXPECT_EQ(small.y, 138);
  // Smaller than the window: negative, truncated toward zero.
  const POINT tiny = platform::win32::CentredOnScreen(1024, 480, 1110, 492);
  EXPECT_EQ(tiny.x, -43);
  EXPECT_EQ(tiny.y, -6);
}

}  // namespace

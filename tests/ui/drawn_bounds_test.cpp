// The part of a window a new drawing changes: the bounds of its drawn pixels, and their union
// with what was drawn before. A bound one pixel short leaves a stale sliver on screen.
#include "ui/drawn_bounds.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Pixels {
  Pixels(int w, int h) : width(w), height(h), data(static_cast<std::size_t>(w * h), 0) {}
  void Set(int x, int y, std::uint32_t value) { data[static_cast<std::size_t>(y * width + x)] = value; }
  ui::Rect Bounds() const { return ui::DrawnBounds(data.data(), width, height); }
  int width, height;
  std::vector<std::uint32_t> data;
};

TEST(DrawnBounds, NothingDrawnIsEmptyAndEachCornerCounts) {
  Pixels pixels(7, 5);
  EXPECT_EQ(pixels.Bounds(), ui::Rect{});
  pixels.Set(0, 0, 0xFF000000u);
  EXPECT_EQ(pixels.Bounds(), (ui::Rect{0, 0, 1, 1}));
  pixels.Set(6, 4, 0x01010101u);  // the faintest premultiplied pixel still shows
  EXPECT_EQ(pixels.Bounds(), (ui::Rect{0, 0, 7, 5}));

  Pixels single(7, 5);
  single.Set(6, 0, 0x80404040u);
  EXPECT_EQ(single.Bounds(), (ui::Rect{6, 0, 1, 1}));
  single.Set(0, 4, 0x80404040u);
  EXPECT_EQ(single.Bounds(), (ui::Rect{0, 0, 7, 5}));
  EXPECT_EQ(ui::DrawnBounds(nullptr, 7, 5), ui::Rect{});
}

// A text's glyphs: the widest row need not be the first or the last one.
TEST(DrawnBounds, TheWidestRowsAnywhereSetTheColumns) {
  Pixels pixels(20, 10);
  pixels.Set(9, 2, 0xFFFFFFFFu);   // top row of the shape, narrow
  pixels.Set(3, 5, 0xFFFFFFFFu);   // leftmost, in the middle
  pixels.Set(15, 6, 0xFFFFFFFFu);  // rightmost, lower
  pixels.Set(10, 8, 0xFFFFFFFFu);  // bottom row, narrow
  EXPECT_EQ(pixels.Bounds(), (ui::Rect{3, 2, 13, 7}));
}

TEST(DrawnBounds, UnionHoldsBothAndIgnoresEmptyOnes) {
  const ui::Rect dots{589, 387, 120, 22};
  const ui::Rect moreDots{589, 387, 131, 22};
  EXPECT_EQ(ui::BoundsUnion(dots, moreDots), moreDots);
  EXPECT_EQ(ui::BoundsUnion(ui::Rect{}, dots), dots);
  EXPECT_EQ(ui::BoundsUnion(dots, ui::Rect{5, 5, 0, 10}), dots);
  EXPECT_EQ(ui::BoundsUnion(ui::Rect{}, ui::Rect{}), ui::Rect{});
  EXPECT_EQ(ui::BoundsUnion((ui::Rect{10, 20, 5, 5}), (ui::Rect{0, 30, 2, 2})), (ui::Rect{0, 20, 15, 12}));
}

// A form's window covers the part of the main window it drew on, in whole cells: the stage
// text's dots change within it, the progress fill grows it a cell at a time, and it never
// reaches past the window it lies over.
TEST(CoveringExtent, SnapsToCellsGrowsOnlyWhenOutgrownAndStaysInsideTheWindow) {
  constexpr int kWidth = 1110, kHeight = 492;
  EXPECT_EQ(ui::CoveringExtent(ui::Rect{}, ui::Rect{}, kWidth, kHeight), ui::Rect{});
  const ui::Rect stage = ui::CoveringExtent(ui::Rect{}, ui::Rect{589, 387, 120, 22}, kWidth, kHeight);
  EXPECT_EQ(stage, (ui::Rect{576, 384, 160, 32}));
  // Fewer dots, none at all, and a drawing that fills the extent exactly: the same window.
  EXPECT_EQ(ui::CoveringExtent(stage, ui::Rect{589, 387, 90, 22}, kWidth, kHeight), stage);
  EXPECT_EQ(ui::CoveringExtent(stage, ui::Rect{}, kWidth, kHeight), stage);
  EXPECT_EQ(ui::CoveringExtent(stage, stage, kWidth, kHeight), stage);
  // One pixel past it on the right: the next cell, and all of the old extent kept.
  EXPECT_EQ(ui::CoveringExtent(stage, ui::Rect{589, 387, 148, 22}, kWidth, kHeight), (ui::Rect{576, 384, 192, 32}));
  // Past it on the left and above.
  EXPECT_EQ(ui::CoveringExtent(stage, ui::Rect{575, 383, 10, 10}, kWidth, kHeight), (ui::Rect{544, 352, 192, 64}));

  const ui::Rect corner = ui::CoveringExtent(ui::Rect{}, ui::Rect{1100, 480, 10, 12}, kWidth, kHeight);
  EXPECT_EQ(corner, (ui::Rect{1088, 480, 22, 12}));
  const ui::Rect whole = ui::CoveringExtent(corner, ui::Rect{0, 0, kWidth, kHeight}, kWidth, kHeight);
  EXPECT_EQ(whole, (ui::Rect{0, 0, kWidth, kHeight}));
  EXPECT_EQ(ui::CoveringExtent(whole, ui::Rect{5, 5, 1, 1}, kWidth, kHeight), whole);
}

TEST(CoveringExtent, AGrowingFillChangesTheWindowOncePerCell) {
  ui::Rect extent;
  int changes = 0;
  for (int width = 1; width <= 564; ++width) {
    const ui::Rect next = ui::CoveringExtent(extent, ui::Rect{402, 411, width, 17}, 1110, 492);
    if (next != extent) ++changes;
    extent = next;
    ASSERT_LE(extent.x, 402);
    ASSERT_GE(extent.x + extent.width, 402 + width) << width;
  }
  EXPECT_EQ(extent, (ui::Rect{384, 384, 608, 64}));
  EXPECT_LE(changes, 564 / ui::kExtentCell + 2);
}

}  // namespace

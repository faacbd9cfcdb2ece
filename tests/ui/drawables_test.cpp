// Drawables, nine-slice arithmetic, the render gate and hit-testing, rendered off-screen with
// the real cairo backend.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>

#include "tests/ui/recording_host.h"
#include "ui/drawable.h"
#include "ui/my_image.h"
#include "ui/my_label.h"
#include "ui/render_pass.h"
#include "ui/slice9_layout.h"

namespace {

using ui::Rect;

class DrawablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::DrawableRegistry::Instance().ClearForTesting();
    ui::RenderGate::Instance().ResetForTesting(0);
    window = host.CreateMainWindow(200, 100, "t");
  }
  void TearDown() override { ui::DrawableRegistry::Instance().ClearForTesting(); }
  RecordingHost host;
  ui::WindowHandle window = nullptr;
};

TEST(Slice9Layout, WidthZeroDrawsNothingVisible) {
  const auto parts = ui::Slice9Parts({402, 411, 0, 17}, 18, 15, {7, 5, 7, 6});
  for (const auto& part : parts) EXPECT_FALSE(part.destination.width > 0) << part.destination.x;
}

TEST(Slice9Layout, WidthTenShowsWholeLeftColumnAndThreePixelsOfTheRight) {
  const auto parts = ui::Slice9Parts({0, 0, 10, 17}, 18, 15, {7, 5, 7, 6});
  EXPECT_EQ(parts[0].destination, (ui::RectF{0, 0, 7, 5}));  // top-left corner whole
  EXPECT_EQ(parts[1].source, (ui::RectF{15, 0, 3, 5}));      // rightmost 3 px of the image
  EXPECT_EQ(parts[1].destination, (ui::RectF{7, 0, 3, 5}));
  EXPECT_EQ(parts[4].destination.width, 0);  // no middle
}

TEST(Slice9Layout, WidthFourteenAndFullWidthStretchOnlyTheMiddle) {
  auto parts = ui::Slice9Parts({0, 0, 14, 17}, 18, 15, {7, 5, 7, 6});
  EXPECT_EQ(parts[1].destination, (ui::RectF{7, 0, 7, 5}));
  EXPECT_EQ(parts[4].destination.width, 0);
  parts = ui::Slice9Parts({402, 411, 564, 17}, 18, 15, {7, 5, 7, 6});
  EXPECT_EQ(parts[4].source, (ui::RectF{7, 5, 4, 4}));  // middle strip of an 18-wide image is 4 wide
  EXPECT_EQ(parts[4].destination, (ui::RectF{409, 416, 550, 6}));
  EXPECT_EQ(parts[3].destination, (ui::RectF{959, 422, 7, 6}));  // ends at 966, the track's end
}

TEST_F(DrawablesTest, ImageOfNegativeSizeTakesItsOwn) {
  auto* logo = ui::CreateImage(window, 1002, {151, 51, -1, -1});
  EXPECT_EQ(logo->GetRect(), (Rect{151, 51, 92, 115}));
}

TEST_F(DrawablesTest, SettersMarkDirtyOnlyOnRealChanges) {
  auto* label = ui::CreateLabel(window, "abc", 20, {0, 0, -1, -1});
  label->ClearDirty();
  label->SetText("abc");
  label->SetFontSize(20);
  label->SetVisible(true);
  EXPECT_FALSE(label->Dirty());
  label->SetText(std::string("abc\0", 4));  // same bytes up to the length, but longer
  EXPECT_TRUE(label->Dirty());
  label->ClearDirty();
  label->SetPosition(label->X(), label->Y());
  EXPECT_TRUE(label->Dirty());
  label->ClearDirty();
  label->SetColor(label->Color());
  EXPECT_TRUE(label->Dirty());
  label->ClearDirty();
  label->SetFontSize(NAN);
  EXPECT_TRUE(label->Dirty());
  label->ClearDirty();
  label->SetFontSize(NAN);  // a NaN old size counts as different
  EXPECT_TRUE(label->Dirty());
}

TEST_F(DrawablesTest, RenderPassDrawsVisibleElementsAndCleansEveryOne) {
  auto* fill = ui::CreateSlice9Image(window, 1006, {10, 10, 40, 15}, {7, 5, 7, 6});
  auto* hidden = ui::CreateImage(window, 1001, {100, 10, -1, -1});
  hidden->SetVisible(false);
  ASSERT_TRUE(ui::HasDirtyDrawable(window));
  ASSERT_TRUE(ui::RenderLayeredWindow(host, window));
  EXPECT_FALSE(fill->Dirty());
  EXPECT_FALSE(hidden->Dirty());
  EXPECT_FALSE(ui::HasDirtyDrawable(window));
  EXPECT_GT(host.Pixel(window, 30, 17) >> 24, 200u);  // the fill's middle is opaque
  EXPECT_EQ(host.Pixel(window, 124, 34), 0u);         // the hidden close button is not drawn
  // Nothing dirty: no pass and the gate's tick stays.
  host.tick += 100;
  EXPECT_FALSE(ui::RenderLayeredWindow(host, window));
  EXPECT_EQ(ui::RenderGate::Instance().LastRenderTick(), 1000u);
  // A change after the pass makes its own window dirty again, and only that one.
  const ui::WindowHandle other = host.CreateMainWindow(50, 50, "u");
  ui::CreateImage(other, 1001, {0, 0, -1, -1})->ClearDirty();
  hidden->SetVisible(true);
  EXPECT_TRUE(ui::HasDirtyDrawable(window));
  EXPECT_FALSE(ui::HasDirtyDrawable(other));
  host.tick += 100;
  ASSERT_TRUE(ui::RenderLayeredWindow(host, window));
  EXPECT_FALSE(ui::HasDirtyDrawable(window));
  EXPECT_EQ(ui::Drawable::DirtyCount(), 0u);  // the frame loop skips every window on this count
  fill->SetRect(fill->GetRect());
  EXPECT_EQ(ui::Drawable::DirtyCount(), 1u);
  EXPECT_TRUE(ui::HasDirtyDrawable(window));
}

TEST_F(DrawablesTest, WhiteAtHalfAlphaHalvesTheImagesOpacity) {
  auto* fill = ui::CreateImage(window, 1006, {0, 0, 18, 15});
  fill->SetColor(0x80FFFFFFu);
  ASSERT_TRUE(ui::RenderLayeredWindow(host, window));
  const std::uint32_t faded = host.Pixel(window, 9, 8);
  EXPECT_NEAR(static_cast<int>(faded >> 24), 128, 2);
}

TEST_F(DrawablesTest, CyanLabelDrawsCyanTextAtItsTopLeft) {
  auto* label = ui::CreateLabel(window, "0Mb/0Mb", 16, {20, 20, -1, -1});
  label->SetColor(ui::kOpaqueCyan);
  ASSERT_TRUE(ui::RenderLayeredWindow(host, window));
  bool cyan = false;
  for (int y = 20; y < 40; ++y)
    for (int x = 20; x < 90; ++x) {
      const std::uint32_t p = host.Pixel(window, x, y);
      if (p == 0xFF00FFFFu) cyan = true;
      EXPECT_EQ((p >> 16) & 0xFF, 0u) << "no red in cyan text at " << x << "," << y;
    }
  EXPECT_TRUE(cyan);
  EXPECT_EQ(host.Pixel(window, 19, 19), 0u);
}

TEST_F(DrawablesTest, GateRefusesWithin16MsAndSurvivesAWrappedTick) {
  auto& gate = ui::RenderGate::Instance();
  gate.ResetForTesting(1000);
  EXPECT_FALSE(gate.TryOpen(1015));
  EXPECT_TRUE(gate.TryOpen(1016));
  gate.ResetForTesting(0xFFFFFFF8u);
  EXPECT_TRUE(gate.TryOpen(8));  // 16 ms later across the wrap
  EXPECT_EQ(gate.LastRenderTick(), 8u);
  EXPECT_FALSE(gate.TryOpen(9));
}

TEST_F(DrawablesTest, OnlyOneWindowIsDrawnPer16Ms) {
  ui::WindowHandle other = host.CreateFormWindow(window);
  host.PlaceWindow(other, {0, 0, 200, 100});
  ui::CreateImage(window, 1006, {0, 0, -1, -1});
  auto* second = ui::CreateImage(other, 1006, {0, 0, -1, -1});
  EXPECT_TRUE(ui::RenderLayeredWindow(host, window));
  EXPECT_FALSE(ui::RenderLayeredWindow(host, other));
  EXPECT_TRUE(second->Dirty());
  host.tick += 16;
  EXPECT_TRUE(ui::RenderLayeredWindow(host, other));
}

TEST_F(DrawablesTest, ClickGoesToTheTopmostVisibleElementEdgesIncluded) {
  int lower = 0, upper = 0;
  auto* below = ui::CreateImage(window, 1001, {10, 10, -1, -1});
  below->SetOnClick([&] { ++lower; });
  auto* above = ui::CreateImage(host.CreateFormWindow(window), 1001, {30, 30, -1, -1});
  above->SetOnClick([&] { ++upper; });
  EXPECT_TRUE(ui::DispatchClick(40, 40));  // overlap: only the later-created one
  EXPECT_EQ(upper, 1);
  EXPECT_EQ(lower, 0);
  EXPECT_TRUE(ui::DispatchClick(59, 59));  // right and bottom edges hit
  EXPECT_TRUE(ui::DispatchClick(10, 10));
  EXPECT_EQ(lower, 1);
  EXPECT_FALSE(ui::DispatchClick(80, 80));
  above->SetVisible(false);
  EXPECT_TRUE(ui::DispatchClick(40, 40));
  EXPECT_EQ(lower, 2);
  ui::CreateImage(window, 1001, {0, 0, 100, 100});  // on top, without a handler: stops the search
  EXPECT_TRUE(ui::DispatchClick(40, 40));
  EXPECT_EQ(lower, 2);
}

TEST_F(DrawablesTest, LabelWithNegativeSizeIsNeverHit) {
  int clicks = 0;
  auto* label = ui::CreateLabel(window, "x", 20, {5, 5, -1, -1});
  label->SetOnClick([&] { ++clicks; });
  EXPECT_FALSE(ui::DispatchClick(5, 5));
  EXPECT_EQ(clicks, 0);
}

TEST_F(DrawablesTest, MissingResourceEndsTheProcessWithZero) {
  EXPECT_EXIT(
      {
        ::close(0);  // the terminal box reads its answer from standard input
        ui::CreateImage(window, 4242, {0, 0, -1, -1});
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace

// The main screen's layout, the per-frame driver and what the stages' snapshot changes.
#include "ui/main_screen.h"

#include <gtest/gtest.h>

#include "app/texts.h"
#include "tests/ui/recording_host.h"
#include "ui/render_pass.h"
#include "ui/splash_driver.h"

namespace {

class MainScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::DrawableRegistry::Instance().ClearForTesting();
    ui::RenderGate::Instance().ResetForTesting(0);
    main = host.CreateMainWindow(ui::kMainWidth, ui::kMainHeight, "Tessarine");
    host.PlaceWindow(main, {405, 294, ui::kMainWidth, ui::kMainHeight});
    screen = ui::BuildMainScreen(host, main, ui::kMainWidth, ui::kMainHeight, [this] { ++closeClicks; });
  }
  void TearDown() override { ui::DrawableRegistry::Instance().ClearForTesting(); }

  RecordingHost host;
  ui::WindowHandle main = nullptr;
  std::unique_ptr<ui::MainScreen> screen;
  int closeClicks = 0;
};

TEST_F(MainScreenTest, LayoutMatchesTheScreen) {
  EXPECT_EQ(screen->background->GetRect(), (ui::Rect{0, 0, 1110, 492}));
  EXPECT_EQ(screen->logo->GetRect(), (ui::Rect{151, 51, 92, 115}));
  EXPECT_EQ(screen->slogan->GetRect(), (ui::Rect{180, 170, 261, 123}));
  EXPECT_EQ(screen->progressTrack->GetRect(), (ui::Rect{404, 410, 562, 15}));
  EXPECT_EQ(screen->progressForm->Slice9()->GetRect(), (ui::Rect{402, 411, 0, 17}));
  EXPECT_EQ(screen->progressForm->Slice9()->GetInsets(), (ui::Insets{7, 5, 7, 6}));
  EXPECT_EQ(screen->closeForm->Slice9()->GetRect(), (ui::Rect{1027, 44, 49, 49}));
  EXPECT_EQ(screen->stageForm->Label()->Text(), texts::kDownloading);
  EXPECT_EQ(screen->sizeForm->Label()->Text(), "0Mb/0Mb");
  EXPECT_EQ(screen->speedForm->Label()->Text(), "0Kb/s");
  EXPECT_EQ(screen->sizeForm->Label()->Color(), 0xFF00FFFFu);
  EXPECT_EQ(screen->stageForm->Label()->Color(), 0xFFFFFFFFu);
  EXPECT_EQ(screen->noticeLine2->GetRect(), (ui::Rect{400, 451, -1, -1}));
  ASSERT_EQ(screen->forms.size(), 5u);
  EXPECT_EQ(screen->forms.back().get(), screen->closeForm);
  for (const auto& form : screen->forms) EXPECT_EQ(host.rects[form->Window()], host.rects[main]);
}

TEST_F(MainScreenTest, CloseButtonIsClickableOnlyOnceShown) {
  EXPECT_FALSE(screen->closeForm->Slice9()->Visible());
  ui::DispatchClick(1050, 60);
  EXPECT_EQ(closeClicks, 0);
  SplashState state;
  state.SetCloseVisible(true);
  ui::SplashDriver driver(host, *screen, &state);
  driver.Frame(0.016);
  driver.OnLeftButtonDown(1076, 93, true);
  EXPECT_EQ(closeClicks, 1);
  driver.OnLeftButtonDown(1050, 60, false);  // another key or button held: only the drag
  EXPECT_EQ(closeClicks, 1);
  EXPECT_EQ(host.drags.size(), 2u);
}

TEST_F(MainScreenTest, SnapshotKeepsBuiltInTextsUntilAStageSetsItsOwn) {
  SplashState state;
  ui::SnapshotApplier applier;
  state.SetSpeedVisible(false);
  applier.Apply(*screen, state.Snapshot());
  EXPECT_EQ(screen->sizeForm->Label()->Text(), "0Mb/0Mb");
  EXPECT_FALSE(screen->speedForm->Label()->Visible());
  state.SetFillWidth(8);
  state.SetSizeText("1.5M/100.0M");
  applier.Apply(*screen, state.Snapshot());
  EXPECT_EQ(screen->progressForm->Slice9()->Width(), 8);
  EXPECT_EQ(screen->sizeForm->Label()->Text(), "1.5M/100.0M");
  // An unchanged snapshot leaves everything clean.
  ui::RenderGate::Instance().ResetForTesting(0);
  for (const auto& element : ui::DrawableRegistry::Instance().Elements()) element->ClearDirty();
  applier.Apply(*screen, state.Snapshot());
  EXPECT_FALSE(ui::HasDirtyDrawable(screen->progressForm->Window()));
  EXPECT_FALSE(ui::HasDirtyDrawable(screen->sizeForm->Window()));
}

TEST_F(MainScreenTest, FrameRepaintsDirtyWindowsAndFormsFollowTheMainWindow) {
  ui::SplashDriver driver(host, *screen, nullptr);
  driver.Frame(0.016);
  EXPECT_NE(std::find(host.repaints.begin(), host.repaints.end(), main), host.repaints.end());
  host.PlaceWindow(main, {500, 300, ui::kMainWidth, ui::kMainHeight});
  driver.OnMainWindowMoved();
  for (const auto& form : screen->forms) EXPECT_EQ(host.rects[form->Window()].x, 500);
}

TEST_F(MainScreenTest, ArtworkIsStretchedByOneAndAHalf) {
  ASSERT_TRUE(ui::RenderLayeredWindow(host, main));
  // The banner's transparent corner stays transparent; its body is opaque red.
  EXPECT_EQ(host.Pixel(main, 3, 3) >> 24, 0u);
  const std::uint32_t body = host.Pixel(main, 300, 300);
  EXPECT_EQ(body >> 24, 0xFFu);
  EXPECT_GT((body >> 16) & 0xFF, 120u);
  EXPECT_LT((body >> 8) & 0xFF, 80u);
  // The progress track's left cap begins at x 404.
  EXPECT_EQ(host.Pixel(main, 402, 417) >> 24, host.Pixel(main, 398, 417) >> 24);
  EXPECT_GT(host.Pixel(main, 406, 417) >> 24, 0u);
}

// An idle splash: frames whose content did not change ask for no paint and present nothing; a
// change repaints only the window that carries it.
TEST_F(MainScreenTest, OnlyAFrameThatChangedSomethingRedrawsAndOnlyItsWindow) {
  SplashState state;
  ui::SplashDriver driver(host, *screen, &state);
  // What a backend does: a repaint request becomes a paint on the window thread.
  const auto frame = [&] {
    host.tick += 17;
    const std::size_t asked = host.repaints.size();
    driver.Frame(1.0 / 60);
    const std::vector<ui::WindowHandle> requests(host.repaints.begin() + static_cast<long>(asked), host.repaints.end());
    for (ui::WindowHandle window : requests) driver.OnPaint(window);
  };
  // The first frames draw every window, one per render gate.
  for (int settle = 0; settle < 20; ++settle) frame();
  const auto quietFrames = [&](const char* when) {
    host.repaints.clear();
    host.presented.clear();
    for (int i = 0; i < 30; ++i) frame();
    EXPECT_TRUE(host.repaints.empty()) << when;
    EXPECT_TRUE(host.presented.empty()) << when;
  };
  quietFrames("after start");

  state.SetStageText("checking.");
  host.repaints.clear();
  host.presented.clear();
  frame();
  EXPECT_EQ(host.repaints, std::vector<ui::WindowHandle>{screen->stageForm->Window()});
  EXPECT_EQ(host.presented, std::vector<ui::WindowHandle>{screen->stageForm->Window()});
  quietFrames("after the stage text");

  // The same text again, and the same fill width twice: nothing to draw.
  state.SetStageText("checking.");
  state.SetFillWidth(120);
  host.presented.clear();
  frame();
  EXPECT_EQ(host.presented, std::vector<ui::WindowHandle>{screen->progressForm->Window()});
  state.SetFillWidth(120);
  quietFrames("after an unchanged fill");
}

}  // namespace

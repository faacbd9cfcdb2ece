#include "update/timeout_dialog.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "app/texts.h"
#include "test_helpers.h"
#include "ui/splash_state.h"

namespace updatetest {
namespace {

using namespace std::chrono_literals;

TEST(ShowTimeoutDialog, RetryShowsTheCloseButtonAndReturns) {
  DialogAndExitCapture capture;
  capture.Dialogs().Script(platform::kAnswerRetry);
  SplashState splash;
  ASSERT_FALSE(splash.Snapshot().closeVisible);
  ShowTimeoutDialog(&splash);
  EXPECT_TRUE(splash.Snapshot().closeVisible);
  EXPECT_EQ(1, capture.Dialogs().FrontRequests());
  const auto shown = capture.Dialogs().ShownBoxes();
  ASSERT_EQ(1u, shown.size());
  EXPECT_EQ(texts::kRequestTimeoutText, shown[0].text);
  EXPECT_EQ(texts::kRequestTimeoutCaption, shown[0].caption);
  EXPECT_EQ(0x1015u, shown[0].style);
  capture.Dialogs().Script(platform::kAnswerRetry);
  ShowTimeoutDialog(nullptr);  // no splash: just the box
  EXPECT_EQ(2u, capture.Dialogs().ShownBoxes().size());
  EXPECT_EQ(-1, capture.WaitForExit(0ms));
}

TEST(ShowTimeoutDialog, CancelEndsTheProcessWithCodeZero) {
  DialogAndExitCapture capture;
  capture.Dialogs().Script(platform::kAnswerCancel);
  auto splash = std::make_shared<SplashState>();
  // The exit never returns: the thread that asked stays parked.
  std::thread([splash] { ShowTimeoutDialog(splash.get()); }).detach();
  EXPECT_EQ(0, capture.WaitForExit(5s));
  EXPECT_TRUE(splash->Snapshot().closeVisible);
}

}  // namespace
}  // namespace updatetest

// The real launcher with no content server behind its base URL: after the request failover's
// budget it shows the time-out dialog; Cancel ends it.
#include <chrono>

#include "app/texts.h"
#include "platform/text_encoding.h"
#include "tests/e2e/launcher_fixture.h"

namespace e2e {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

class RequestTimeoutTest : public LauncherFixture {};

TEST_F(RequestTimeoutTest, UnreachableServerShowsTheTimeOutDialogAfterTheBudget) {
  const std::string dialog =
      "[" + platform::GbkToUtf8(texts::kRequestTimeoutCaption) + "] " + platform::GbkToUtf8(texts::kRequestTimeoutText);
  const auto started = std::chrono::steady_clock::now();
  auto launcher = StartLauncher({});

  ASSERT_TRUE(launcher->WaitForOutput(dialog, seconds(40))) << launcher->Output();
  const auto waited = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - started);
  std::printf("time-out dialog after %lld ms\n", static_cast<long long>(waited.count()));
  EXPECT_GE(waited, milliseconds(11500));
  EXPECT_LE(waited, milliseconds(18000));  // sanitizer builds start slower

  launcher->WriteInput("c\n");
  EXPECT_EQ(launcher->WaitForExit(seconds(5)), 0) << launcher->Output();
  EXPECT_FALSE(fs::exists(DataFolder() / kGameExe));
}

}  // namespace
}  // namespace e2e

#include "platform/instance_guard.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

TEST(InstanceGuard, SecondStartWakesTheFirstAndIsRefused) {
  const std::string name = "LauncherTestMutex_" + std::to_string(getpid());
  auto first = platform::AcquireSingleInstance(name, "wake");
  ASSERT_NE(first, nullptr);
  std::atomic<int> activations{0};
  first->OnActivation([&] { ++activations; });

  EXPECT_EQ(platform::AcquireSingleInstance(name, "wake"), nullptr);
  // The second start returns only once the first one has handled the message.
  EXPECT_EQ(activations.load(), 1);
  // Another message name is not an activation.
  EXPECT_EQ(platform::AcquireSingleInstance(name, "other"), nullptr);
  EXPECT_EQ(activations.load(), 1);

  first.reset();
  auto again = platform::AcquireSingleInstance(name, "wake");
  EXPECT_NE(again, nullptr);
}

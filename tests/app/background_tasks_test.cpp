#include "net/background_tasks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <thread>

using namespace std::chrono_literals;

TEST(BackgroundTasks, StarterReturnsWhileALongJobStillRuns) {
  auto release = std::make_shared<std::promise<void>>();
  auto finished = std::make_shared<std::promise<void>>();
  std::shared_future<void> gate = release->get_future().share();
  const auto start = std::chrono::steady_clock::now();
  RunDetached([gate, finished] {
    gate.wait();
    finished->set_value();
  });
  EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
  release->set_value();
  EXPECT_EQ(finished->get_future().wait_for(2s), std::future_status::ready);
}

TEST(BackgroundTasks, TwoJobsRunAtTheSameTime) {
  // Each job waits for the other to have started: only concurrent jobs can both finish.
  auto arrived = std::make_shared<std::atomic<int>>(0);
  auto done = std::make_shared<std::atomic<int>>(0);
  for (int i = 0; i < 2; ++i) {
    RunDetached([arrived, done] {
      ++*arrived;
      for (int spin = 0; spin < 2000 && *arrived < 2; ++spin) std::this_thread::sleep_for(1ms);
      if (*arrived == 2) ++*done;
    });
  }
  for (int spin = 0; spin < 3000 && *done < 2; ++spin) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(*done, 2);
}

TEST(BackgroundTasks, DelayedCallComesNoEarlierThanItsDelay) {
  auto called = std::make_shared<std::promise<std::chrono::steady_clock::time_point>>();
  auto when = called->get_future();
  const auto start = std::chrono::steady_clock::now();
  RunAfterDelay(300, [called] { called->set_value(std::chrono::steady_clock::now()); });
  EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);  // the starter does not wait for it
  ASSERT_EQ(when.wait_for(3s), std::future_status::ready);
  EXPECT_GE(when.get() - start, 300ms);
}

TEST(BackgroundTasks, DelayedCallNeedsAJob) { EXPECT_THROW(RunAfterDelay(1, nullptr), std::invalid_argument); }

// The window thread's wait between frames skips GLib's full round while nothing is due; it must
// still end at once for a descriptor that becomes readable or a source attached by another
// thread, and a GLib timer known from the last round must fire on time.
#include "platform/linux/gtk/main_context_wait.h"

#include <glib-unix.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using gtk_splash::MainContextWait;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class MainContextWaitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Settle: a first full round that finds nothing, so the next waits may take the short path.
    while (waiter.Wait(0, false, false)) {
    }
    waiter.Wait(5, true, false);
  }
  MainContextWait waiter{{}};
};

TEST_F(MainContextWaitTest, TimerKnownFromTheLastRoundFiresOnTime) {
  std::atomic<bool> fired{false};
  const guint id = g_timeout_add(
      60,
      [](gpointer data) -> gboolean {
        static_cast<std::atomic<bool>*>(data)->store(true);
        return G_SOURCE_REMOVE;
      },
      &fired);
  const auto start = Clock::now();
  waiter.Wait(16, true, true);  // the caller added a source: a full round learns of the timer
  while (!fired && MsSince(start) < 1000) waiter.Wait(16, true, false);
  EXPECT_TRUE(fired.load());
  EXPECT_LT(MsSince(start), 300);
  if (!fired) g_source_remove(id);
}

TEST_F(MainContextWaitTest, SourceAttachedByAnotherThreadEndsTheWait) {
  std::atomic<bool> ran{false};
  std::thread other([&ran] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    g_idle_add(
        [](gpointer data) -> gboolean {
          static_cast<std::atomic<bool>*>(data)->store(true);
          return G_SOURCE_REMOVE;
        },
        &ran);
  });
  const auto start = Clock::now();
  bool dispatched = false;
  while (!ran && MsSince(start) < 2000) dispatched = waiter.Wait(1000, true, false) || dispatched;
  other.join();
  EXPECT_TRUE(ran.load());
  EXPECT_TRUE(dispatched);
  EXPECT_LT(MsSince(start), 500);
}

TEST_F(MainContextWaitTest, ReadableDescriptorEndsTheWait) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  std::atomic<bool> readable{false};
  const guint id = g_unix_fd_add(
      ends[0], G_IO_IN,
      [](gint fd, GIOCondition, gpointer data) -> gboolean {
        char byte;
        if (read(fd, &byte, 1) == 1) static_cast<std::atomic<bool>*>(data)->store(true);
        return G_SOURCE_CONTINUE;
      },
      &readable);
  waiter.Wait(5, true, true);  // a full round takes the new descriptor into its set
  waiter.Wait(5, true, false);
  std::thread writer([fd = ends[1]] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(write(fd, "x", 1), 1);
  });
  const auto start = Clock::now();
  while (!readable && MsSince(start) < 2000) waiter.Wait(1000, true, false);
  writer.join();
  EXPECT_TRUE(readable.load());
  EXPECT_LT(MsSince(start), 500);
  g_source_remove(id);
  close(ends[0]);
  close(ends[1]);
}

}  // namespace

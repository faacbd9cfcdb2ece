// The pool that closes written files off the inflating thread (Windows' virus scanners may
// hold a close for long): every file handed over is closed by Drain, more than the pool holds
// at once included, and a close that fails is reported once.
#include "package/close_pool.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "tests/package/unzip_sandbox.h"
#include "tests/package/zip_builder.h"

namespace {

namespace fs = std::filesystem;

std::size_t OpenDescriptors() {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

class ClosePoolTest : public UnzipSandbox {};

TEST_F(ClosePoolTest, DrainReturnsOnceEveryFileHandedOverIsClosedAndStored) {
  ClosePool& pool = ClosePool::Shared();
  ASSERT_TRUE(pool.Drain());
  const std::size_t before = OpenDescriptors();
  const std::size_t files = 3 * ClosePool::kMaxWaiting;
  for (std::size_t i = 0; i < files; ++i) {
    std::FILE* file = std::fopen((root() / ("f" + std::to_string(i))).c_str(), "wb");
    ASSERT_NE(file, nullptr);
    const std::string text = "file " + std::to_string(i);
    ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), file), text.size());
    ASSERT_EQ(std::fflush(file), 0);
    pool.Close(file);
  }
  EXPECT_TRUE(pool.Drain());
  EXPECT_EQ(OpenDescriptors(), before);
  for (std::size_t i = 0; i < files; i += 37) {
    EXPECT_EQ(ReadBytes(root() / ("f" + std::to_string(i))), "file " + std::to_string(i));
  }
}

TEST_F(ClosePoolTest, AFailedCloseIsReportedByTheNextDrainOnly) {
  ClosePool& pool = ClosePool::Shared();
  ASSERT_TRUE(pool.Drain());
  std::FILE* good = std::fopen((root() / "good").c_str(), "wb");
  std::FILE* broken = std::fopen((root() / "broken").c_str(), "wb");
  ASSERT_NE(good, nullptr);
  ASSERT_NE(broken, nullptr);
  // Its descriptor gone underneath it: the stream's own close must fail.
  ASSERT_EQ(close(fileno(broken)), 0);
  pool.Close(good);
  pool.Close(broken);
  EXPECT_FALSE(pool.Drain());
  EXPECT_TRUE(pool.Drain());
}

}  // namespace

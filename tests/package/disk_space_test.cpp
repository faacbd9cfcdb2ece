// Room for an update: real volumes (a small tmpfs mounted for the test) and real archives.
#include "package/disk_space.h"

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "tests/package/unzip_sandbox.h"
#include "tests/package/zip_builder.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kMiB = 1024 * 1024;

class DiskSpaceTest : public UnzipSandbox {
 protected:
  void SetUp() override {
    UnzipSandbox::SetUp();
    small_ = root() / "small";
    fs::create_directories(small_);
    if (mount("tmpfs", small_.c_str(), "tmpfs", 0, "size=1m") != 0) {
      mountError_ = std::strerror(errno);
      return;
    }
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) umount2(small_.c_str(), MNT_DETACH);
    UnzipSandbox::TearDown();
  }

  fs::path small_;
  bool mounted_ = false;
  std::string mountError_;
};

#define SKIP_WITHOUT_MOUNT() \
  if (!mounted_) GTEST_SKIP() << "a tmpfs cannot be mounted here (" << mountError_ << "); needs root"

TEST_F(DiskSpaceTest, AVolumeTooSmallIsNamedWithWhatItLacks) {
  SKIP_WITHOUT_MOUNT();
  EXPECT_FALSE(FindSpaceShortage({{small_.string(), kMiB / 2}}).has_value());
  const auto shortage = FindSpaceShortage({{small_.string(), 2 * kMiB}});
  ASSERT_TRUE(shortage.has_value());
  EXPECT_EQ(shortage->folder, small_.string());
  EXPECT_EQ(shortage->needed, 2 * kMiB);
  EXPECT_LE(shortage->available, kMiB);
  EXPECT_GT(shortage->available, kMiB / 2);
}

TEST_F(DiskSpaceTest, NeedsOnOneVolumeAddUpAndFoldersNotMadeYetCountOnTheirParent) {
  SKIP_WITHOUT_MOUNT();
  fs::create_directories(small_ / "download");
  // Each half fits; both together do not, since both folders lie on the small volume.
  const auto shortage =
      FindSpaceShortage({{(small_ / "download").string(), 600 * 1024}, {small_.string(), 600 * 1024}});
  ASSERT_TRUE(shortage.has_value());
  EXPECT_EQ(shortage->needed, 1200u * 1024);
  EXPECT_EQ(shortage->folder, (small_ / "download").string());
  // A volume elsewhere (the scratch folder's) takes its own share.
  EXPECT_FALSE(FindSpaceShortage({{root().string(), 600 * 1024}, {small_.string(), 600 * 1024}}).has_value());
  // The folder is not there: the working folder's volume answers for it.
  const fs::path previous = fs::current_path();
  fs::current_path(small_);
  const auto missing = FindSpaceShortage({{"not_made_yet", 2 * kMiB}});
  fs::current_path(previous);
  ASSERT_TRUE(missing.has_value());
  EXPECT_EQ(missing->folder, "not_made_yet");
  EXPECT_LE(missing->available, kMiB);
}

TEST_F(DiskSpaceTest, UnpackedBytesCountsEveryEntryInWholeBlocks) {
  ZipBuilder zip(archive());
  zip.Add("a", std::string(1, 'a'));
  zip.Add("big", std::string(3 * kMiB, 'b'));  // deflates to far less than it unpacks to
  zip.AddFolder("folder/");
  zip.Add("folder/empty", "");
  zip.Close();
  ASSERT_LT(fs::file_size(archive()), kMiB);
  EXPECT_EQ(UnpackedBytes(archive().string()), std::optional<std::uint64_t>(4096 + 3 * kMiB));

  WriteBytes(archive(), "PK\x03\x04 not an archive");
  EXPECT_EQ(UnpackedBytes(archive().string()), std::nullopt);
  EXPECT_EQ(UnpackedBytes((root() / "missing.zip").string()), std::nullopt);
}

}  // namespace

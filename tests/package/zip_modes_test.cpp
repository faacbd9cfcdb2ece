// Permission bits that travel with entries made on Unix.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/package/unzip_sandbox.h"
#include "tests/package/zip_builder.h"

namespace {

class EntryModeTest : public UnzipSandbox {
 protected:
  void SetUp() override {
    UnzipSandbox::SetUp();
    savedMask_ = umask(022);  // a known umask, so the default mode is known
  }
  void TearDown() override {
    umask(savedMask_);
    UnzipSandbox::TearDown();
  }

  mode_t ModeOf(const std::string& relative) const {
    struct stat status {};
    EXPECT_EQ(lstat((root() / relative).c_str(), &status), 0) << relative;
    return status.st_mode & 07777;
  }

 private:
  mode_t savedMask_ = 0;
};

TEST_F(EntryModeTest, UnixEntriesKeepTheirPermissionBitsOnly) {
  ZipBuilder zip(archive());
  zip.Add("bin/game", "#!/bin/sh\nexit 0\n", EntryOptions::Unix(0100755));
  zip.Add("private.cfg", "secret", EntryOptions::Unix(0100600));
  zip.Add("group.txt", "shared", EntryOptions::Unix(0100664));  // kept although the umask would clear g+w
  zip.Add("setuid", "no", EntryOptions::Unix(0104755));
  zip.Add("sticky", "no", EntryOptions::Unix(0103777));
  zip.Add("bare-mode", "no type bits", EntryOptions::Unix(0750));
  zip.Add("from-dos.txt", "no unix mode");
  zip.Close();

  ASSERT_TRUE(Unzip());
  EXPECT_EQ(ModeOf("data/bin/game"), 0755u);
  EXPECT_EQ(ModeOf("data/private.cfg"), 0600u);
  EXPECT_EQ(ModeOf("data/group.txt"), 0664u);
  EXPECT_EQ(ModeOf("data/setuid"), 0755u);
  EXPECT_EQ(ModeOf("data/sticky"), 0777u);
  EXPECT_EQ(ModeOf("data/bare-mode"), 0750u);
  EXPECT_EQ(ModeOf("data/from-dos.txt"), 0644u);
}

TEST_F(EntryModeTest, ExtractedExecutableRuns) {
  ZipBuilder zip(archive());
  zip.Add("game.sh", "#!/bin/sh\nexit 7\n", EntryOptions::Unix(0100755));
  zip.Close();
  ASSERT_TRUE(Unzip());
  const int status = std::system((destination() / "game.sh").c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 7);
}

TEST_F(EntryModeTest, ReadOnlyFileFromAnEarlierRunIsReplacedWithTheNewMode) {
  ZipBuilder first(archive());
  first.Add("asset.dat", "version one", EntryOptions::Unix(0100444));
  first.Close();
  ASSERT_TRUE(Unzip());
  EXPECT_EQ(ModeOf("data/asset.dat"), 0444u);

  ZipBuilder second(archive());
  second.Add("asset.dat", "version two", EntryOptions::Unix(0100644));
  second.Close();
  ASSERT_TRUE(Unzip());
  EXPECT_EQ(Read("data/asset.dat"), "version two");
  EXPECT_EQ(ModeOf("data/asset.dat"), 0644u);
}

}  // namespace

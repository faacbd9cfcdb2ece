// The install through the staging folder: the installed tree changes only at the commit, and
// only when every entry was unpacked and checked; the commit is as strict with links and
// folders in the way as unpacking in place.
#include "package/staging.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <iterator>

#include "tests/package/unzip_sandbox.h"
#include "tests/package/zip_builder.h"

namespace {

namespace fs = std::filesystem;

class StagingTest : public UnzipSandbox {
 protected:
  bool Install() { return InstallThroughStaging(UnzipTask{archive().string(), destination().string(), Recorder()}); }
  void Installed(const std::string& relative, const std::string& bytes) {
    fs::create_directories((destination() / relative).parent_path());
    WriteBytes(destination() / relative, bytes);
  }
  fs::path Staging() const { return destination() / kStagingFolderName; }
};

TEST_F(StagingTest, CommitReplacesInstalledFilesKeepsOthersAndLeavesNoStaging) {
  Installed("game/kolv.exe", "old game");
  Installed("saves/slot1", "player's save");
  ZipBuilder zip(archive());
  zip.Add("game/kolv.exe", "new game", EntryOptions::Unix(0100750));
  zip.AddFolder("empty/");
  zip.Add("data/x.pak", std::string(300000, 'x'));
  zip.Close();

  ASSERT_TRUE(Install()) << last().payload;
  EXPECT_EQ(Read("data/game/kolv.exe"), "new game");
  EXPECT_EQ(Read("data/data/x.pak"), std::string(300000, 'x'));
  EXPECT_EQ(Read("data/saves/slot1"), "player's save");
  EXPECT_TRUE(fs::is_directory(destination() / "empty"));
  EXPECT_FALSE(fs::exists(Staging()));
  struct stat info {};
  ASSERT_EQ(stat((destination() / "game/kolv.exe").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0750u);
  // The entries as unpacked, then the commit's paths, then one "succ".
  ASSERT_GE(calls().size(), 4u);
  EXPECT_EQ(calls()[2].done, 3);  // entries are reported in the order they are finished
  EXPECT_EQ(calls()[2].total, 3);
  EXPECT_EQ(last(), (UnzipCall{"succ", "", 3, 3}));
  long long committed = 0;
  for (std::size_t at = 3; at + 1 < calls().size(); ++at) {
    EXPECT_EQ(calls()[at].status, "unzip");
    EXPECT_EQ(calls()[at].done, ++committed);
  }
  EXPECT_EQ(committed, 5);  // game/, game/kolv.exe, empty/, data/, data/x.pak in some order
}

TEST_F(StagingTest, AnEntryThatFailsLeavesTheInstalledTreeAsItWas) {
  Installed("a.txt", "old a");
  Installed("b/c.txt", "old c");
  ZipBuilder zip(archive());
  zip.Add("a.txt", "new a");
  zip.Add("b/c.txt", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", EntryOptions::Stored());
  zip.Add("d.txt", "new d");
  zip.Close();
  // The stored entry's bytes altered after its checksum was written: unpacking must refuse it.
  ASSERT_EQ(PatchBytes(archive(), "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab"), 1);
  const auto before = Tree();

  EXPECT_FALSE(Install());
  EXPECT_EQ(last().status, "fail");
  EXPECT_EQ(last().payload.substr(0, last().payload.find('\n')), "extract file fail: b/c.txt");
  EXPECT_EQ(last().done, 1);
  EXPECT_EQ(Read("data/a.txt"), "old a");
  EXPECT_EQ(Read("data/b/c.txt"), "old c");
  EXPECT_EQ(Tree(), before);  // no staging left, d.txt never arrived
}

TEST_F(StagingTest, WhatAnInterruptedRunStagedNeverReachesTheInstall) {
  fs::create_directories(Staging() / "old");
  WriteBytes(Staging() / "old" / "stale.txt", "from another package");
  WriteBytes(Staging() / "a.txt", "half written");
  ZipBuilder zip(archive());
  zip.Add("a.txt", "whole");
  zip.Close();

  ASSERT_TRUE(Install()) << last().payload;
  EXPECT_EQ(Read("data/a.txt"), "whole");
  EXPECT_FALSE(fs::exists(destination() / "old"));
  EXPECT_FALSE(fs::exists(Staging()));
}

TEST_F(StagingTest, CommitReplacesLinksAndFoldersInTheWayWithoutFollowingThem) {
  const fs::path elsewhere = root() / "elsewhere";
  fs::create_directories(elsewhere);
  WriteBytes(elsewhere / "kolv.exe", "not ours");
  fs::create_directories(destination());
  fs::create_directory_symlink(elsewhere, destination() / "game");        // a link in a folder's place
  fs::create_symlink(elsewhere / "kolv.exe", destination() / "top.exe");  // a link in a file's place
  fs::create_directories(destination() / "was_folder" / "inner");         // a folder in a file's place
  WriteBytes(destination() / "file_here", "an old file");                 // a file in a folder's place
  ZipBuilder zip(archive());
  zip.Add("game/kolv.exe", "ours");
  zip.Add("top.exe", "ours too");
  zip.Add("was_folder", "now a file");
  zip.Add("file_here/x", "inside a folder");
  zip.Close();

  ASSERT_TRUE(Install()) << last().payload;
  EXPECT_EQ(ReadBytes(elsewhere / "kolv.exe"), "not ours");
  EXPECT_FALSE(fs::is_symlink(destination() / "game"));
  EXPECT_FALSE(fs::is_symlink(destination() / "top.exe"));
  EXPECT_EQ(Read("data/game/kolv.exe"), "ours");
  EXPECT_EQ(Read("data/top.exe"), "ours too");
  EXPECT_EQ(Read("data/was_folder"), "now a file");
  EXPECT_EQ(Read("data/file_here/x"), "inside a folder");
  EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere), fs::directory_iterator()), 1);
}

TEST_F(StagingTest, NamesOutsideTheDestinationAndTheStagingFolderItselfAreRefusedBeforeAnyCommit) {
  Installed("a.txt", "old a");
  for (const std::string& name : {std::string("../outside.txt"), std::string(kStagingFolderName) + "/a.txt"}) {
    SCOPED_TRACE(name);
    ZipBuilder zip(archive());
    zip.Add("a.txt", "new a");
    zip.Add(name, "hostile");
    zip.Close();
    const auto before = Tree();
    EXPECT_FALSE(Install());
    EXPECT_EQ(last().status, "fail");
    EXPECT_EQ(Read("data/a.txt"), "old a");
    EXPECT_EQ(Tree(), before);
  }
  EXPECT_FALSE(fs::exists(root() / "outside.txt"));
}

}  // namespace

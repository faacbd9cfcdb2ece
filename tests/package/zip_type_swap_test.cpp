// A package installed over an earlier release whose tree has a file where the package has a
// folder, or the reverse: what the earlier release left is replaced, and nothing outside the
// destination is reached through a link standing in the way.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/package/unzip_sandbox.h"
#include "tests/package/zip_builder.h"

namespace {

namespace fs = std::filesystem;

class TypeSwapTest : public UnzipSandbox {
 protected:
  void SetUp() override {
    UnzipSandbox::SetUp();
    fs::create_directories(destination());
  }
};

TEST_F(TypeSwapTest, FileOfTheEarlierReleaseGivesWayToAFolderAtEveryDepth) {
  WriteBytes(destination() / "maps", "maps was a file");
  fs::create_directories(destination() / "deep");
  WriteBytes(destination() / "deep" / "er", "so was deep/er");
  ZipBuilder zip(archive());
  zip.AddFolder("maps/");
  zip.Add("maps/level1.bin", "level one");
  zip.Add("deep/er/still/x.txt", "below a former file");
  zip.Close();

  ASSERT_TRUE(Unzip()) << last().payload;
  EXPECT_EQ(Read("data/maps/level1.bin"), "level one");
  EXPECT_EQ(Read("data/deep/er/still/x.txt"), "below a former file");
  EXPECT_EQ(last(), (UnzipCall{"succ", "", 3, 3}));
}

TEST_F(TypeSwapTest, FolderTreeOfTheEarlierReleaseGivesWayToAFile) {
  fs::create_directories(destination() / "assets" / "textures" / "old");
  WriteBytes(destination() / "assets" / "textures" / "old" / "a.png", "old texture");
  WriteBytes(destination() / "assets" / "index", "old index");
  ZipBuilder zip(archive());
  zip.Add("assets", "assets is one pack file now");
  zip.Close();

  ASSERT_TRUE(Unzip()) << last().payload;
  EXPECT_TRUE(fs::is_regular_file(destination() / "assets"));
  EXPECT_EQ(Read("data/assets"), "assets is one pack file now");
  EXPECT_EQ(Tree(), (std::set<std::string>{"package.zip", "data", "data/assets"}));
}

#ifndef _WIN32
TEST_F(TypeSwapTest, LinksInTheWayAreRemovedAsLinksAndTheirTargetsKept) {
  fs::create_directories(root() / "outside" / "tree");
  WriteBytes(root() / "outside" / "tree" / "keep.bin", "player's folder content");
  WriteBytes(root() / "outside" / "file.txt", "player's file");
  // A link to a folder where the package has a file, a link to a file where it has a folder,
  // and a folder to be replaced by a file that has a link to a folder inside it.
  fs::create_directory_symlink("../outside/tree", destination() / "config");
  fs::create_symlink("../outside/file.txt", destination() / "saves");
  fs::create_directories(destination() / "mods");
  fs::create_directory_symlink("../../outside/tree", destination() / "mods" / "linked");
  ZipBuilder zip(archive());
  zip.Add("config", "config file");
  zip.Add("saves/slot1", "slot one");
  zip.Add("mods", "mods file");
  zip.Close();

  ASSERT_TRUE(Unzip()) << last().payload;
  EXPECT_FALSE(fs::is_symlink(destination() / "config"));
  EXPECT_EQ(Read("data/config"), "config file");
  EXPECT_FALSE(fs::is_symlink(destination() / "saves"));
  EXPECT_EQ(Read("data/saves/slot1"), "slot one");
  EXPECT_EQ(Read("data/mods"), "mods file");
  EXPECT_EQ(Read("outside/tree/keep.bin"), "player's folder content");
  EXPECT_EQ(Read("outside/file.txt"), "player's file");
  EXPECT_EQ(Tree(), (std::set<std::string>{"package.zip", "outside", "outside/tree", "outside/tree/keep.bin",
                                           "outside/file.txt", "data", "data/config", "data/saves", "data/saves/slot1",
                                           "data/mods"}));
}
#endif

}  // namespace

// The file list of the file information and the work of an update by files: reading the list
// (and refusing every malformed form of it), choosing what to fetch and remove against a real
// data folder with links and folders in the way, the share rule, the central directory's
// agreement with the list, and the texts the launcher prints.
#include "update/file_manifest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/file_text.h"
#include "tests/support/scratch_dir.h"

namespace {
namespace fs = std::filesystem;
using testsupport::ReadText;
using testsupport::WriteText;

const std::string kDigestA(64, 'a');
const std::string kDigestB(64, 'b');

std::string Element(const std::string& path, const std::string& size = "5",
                    const std::string& sha256 = "\"" + kDigestA + "\"", const std::string& crc32 = "7") {
  return "{\"path\":\"" + path + "\",\"size\":" + size + ",\"sha256\":" + sha256 + ",\"crc32\":" + crc32 + "}";
}

std::string Document(const std::string& files) {
  return R"({"zipName":"res_1_0_0.zip","zipMd5":"","fileNameList":[],"files":)" + files + "}";
}

TEST(ManifestRead, ReadsTheListAndRefusesEveryMalformedForm) {
  const std::string good = Document("[" + Element("kolv.exe", "12", "\"" + std::string(64, 'F') + "\"", "4294967295") +
                                    "," + Element("data/pak 0.dat", "0") + "]");
  const auto files = ParseManifestFiles(good);
  ASSERT_TRUE(files.has_value());
  ASSERT_EQ(files->size(), 2u);
  EXPECT_EQ((*files)[0].path, "kolv.exe");
  EXPECT_EQ((*files)[0].size, 12u);
  EXPECT_EQ((*files)[0].sha256, std::string(64, 'f'));
  EXPECT_EQ((*files)[0].crc32, 4294967295u);
  EXPECT_EQ((*files)[1].path, "data/pak 0.dat");
  EXPECT_TRUE(ParseManifestFiles(Document("[]")).has_value());

  const ManifestRead absent = ReadManifestFiles(R"({"zipName":"res_1_0_0.zip","fileNameList":["a"]})");
  EXPECT_FALSE(absent.present);
  EXPECT_FALSE(absent.files.has_value());
  EXPECT_FALSE(ReadManifestFiles("not json").present);

  const std::vector<std::string> malformed = {
      "{}",
      "\"kolv.exe\"",
      "[" + Element("kolv.exe") + ",7]",
      "[{\"path\":\"kolv.exe\",\"size\":1,\"sha256\":\"" + kDigestA + "\"}]",
      "[" + Element("kolv.exe", "-1") + "]",
      "[" + Element("kolv.exe", "1.5") + "]",
      "[" + Element("kolv.exe", "\"5\"") + "]",
      "[" + Element("kolv.exe", "5", "\"" + std::string(63, 'a') + "\"") + "]",
      "[" + Element("kolv.exe", "5", "\"" + std::string(63, 'a') + "g\"") + "]",
      "[" + Element("kolv.exe", "5", "null") + "]",
      "[" + Element("kolv.exe", "5", "\"" + kDigestA + "\"", "4294967296") + "]",
      "[" + Element("kolv.exe", "5", "\"" + kDigestA + "\"", "-7") + "]",
      "[" + Element("../kolv.exe") + "]",
      "[" + Element("/etc/passwd") + "]",
      "[" + Element("C:kolv.exe") + "]",
      "[" + Element("data/../../x") + "]",
      "[" + Element("data//x") + "]",
      "[" + Element("./x") + "]",
      "[" + Element("data/") + "]",
      "[" + Element("") + "]",
      "[" + Element(".staging/kolv.exe") + "]",
      "[" + Element("kolv.exe") + "," + Element("kolv.exe") + "]",
      "[" + Element("data/x") + "," + Element("data\\\\x") + "]",
  };
  for (const auto& list : malformed) {
    const ManifestRead read = ReadManifestFiles(Document(list));
    EXPECT_TRUE(read.present) << list;
    EXPECT_FALSE(read.files.has_value()) << list;
  }
}

TEST(ManifestRead, EachUnusableListNamesItsReason) {
  const std::string with = Document("[" + Element("kolv.exe") + "]");
  const std::string without = R"({"zipName":"res_1_0_0.zip"})";
  const std::string broken = Document("[7]");
  EXPECT_EQ(FileListsUsable(with, true, with), std::nullopt);
  EXPECT_EQ(FileListsUsable(with, false, with), FallbackReason::kUnverifiedOldFileInfo);
  EXPECT_EQ(FileListsUsable(without, true, with), FallbackReason::kNoOldFileList);
  EXPECT_EQ(FileListsUsable(broken, true, with), FallbackReason::kMalformedOldFileList);
  EXPECT_EQ(FileListsUsable(with, true, without), FallbackReason::kNoNewFileList);
  EXPECT_EQ(FileListsUsable(with, true, broken), FallbackReason::kMalformedNewFileList);
  EXPECT_EQ(FallbackLine(FallbackReason::kNoOldFileList),
            "whole-archive update: no file list in the installed version's file information");
}

// A symbolic link; false where the system (or Wine) makes none, and the link cases are then left out.
bool Link(const fs::path& target, const fs::path& link) {
  std::error_code error;
  fs::create_symlink(target, link, error);
  return !error;
}

class FileWorkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = scratch_.Path() / "data";
    outside_ = scratch_.Path() / "outside";
    fs::create_directories(outside_);
    WriteText(outside_ / "keep.txt", "not the launcher's");
  }
  std::string Data() const { return data_.string(); }
  // Installs `content` at `path` and lists it with that size.
  ManifestFile Installed(const std::string& path, const std::string& content, const std::string& sha256 = kDigestA) {
    WriteText(data_ / path, content);
    return {path, content.size(), sha256, 1};
  }

  testsupport::ScratchDir scratch_{"file-work"};
  fs::path data_, outside_;
};

TEST_F(FileWorkTest, FetchesNewChangedMissingAndWrongSizedFilesOnly) {
  const ManifestFile same = Installed("kolv.exe", "game");
  const ManifestFile changedDigest = Installed("data/a.pak", "aaaa");
  const ManifestFile changedSize = Installed("data/b.pak", "bbbb");
  const ManifestFile missing = Installed("data/c.pak", "cccc");
  fs::remove(data_ / "data/c.pak");
  const ManifestFile damaged = Installed("data/d.pak", "dddd");
  WriteText(data_ / "data/d.pak", "dd");
  const ManifestFile linked = Installed("data/e.pak", "eeee");
  fs::remove(data_ / "data/e.pak");
  if (!Link(outside_ / "keep.txt", data_ / "data/e.pak")) WriteText(data_ / "data/e.pak", "eeeeee");
  const ManifestFile folder{"data/f.pak", 4, kDigestA, 1};
  fs::create_directories(data_ / "data/f.pak");
  const std::vector<ManifestFile> oldFiles = {same, changedDigest, changedSize, missing, damaged, linked, folder};

  std::vector<ManifestFile> newFiles = oldFiles;
  newFiles[1].sha256 = kDigestB;
  newFiles[2].size = 5;
  newFiles.push_back({"data/new.pak", 3, kDigestA, 1});
  const FileWork work = ChooseFileWork(oldFiles, newFiles, Data());
  EXPECT_EQ(work.fetch, (std::vector<std::size_t>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(work.fetchBytes, 4u + 5 + 4 + 4 + 4 + 4 + 3);
  EXPECT_TRUE(work.remove.empty());

  // A repair is the same list twice: only what is missing or of the wrong size.
  EXPECT_TRUE(NeedsRepair(oldFiles, Data()));
  const FileWork repair = ChooseFileWork(oldFiles, oldFiles, Data());
  EXPECT_EQ(repair.fetch, (std::vector<std::size_t>{3, 4, 5, 6}));
  const std::vector<ManifestFile> intact = {same, changedDigest};
  EXPECT_FALSE(NeedsRepair(intact, Data()));
  EXPECT_TRUE(ChooseFileWork(intact, intact, Data()).fetch.empty());
  EXPECT_EQ(ReadText(outside_ / "keep.txt"), "not the launcher's");
}

TEST_F(FileWorkTest, RemovesDroppedPlainFilesAndNothingElse) {
  const ManifestFile kept = Installed("kolv.exe", "game");
  const ManifestFile dropped = Installed("data/old.pak", "old");
  const ManifestFile droppedMissing{"data/gone.pak", 3, kDigestA, 1};
  const ManifestFile droppedLink = Installed("data/link.pak", "x");
  fs::remove(data_ / "data/link.pak");
  const bool links = Link(outside_ / "keep.txt", data_ / "data/link.pak");
  const ManifestFile droppedFolder{"data/now-a-folder", 1, kDigestA, 1};
  fs::create_directories(data_ / "data/now-a-folder");
  // A dropped file behind a linked folder would be a file outside the data folder.
  Link(outside_, data_ / "linked");
  const ManifestFile throughLink{"linked/keep.txt", 18, kDigestA, 1};
  // On a system that folds case the old name is the new file (on Windows this is one file).
  const ManifestFile otherCase = Installed("Data/Case.pak", "case");
  WriteText(data_ / "unlisted.txt", "the player's");

  // A file whose place becomes a folder of the new version is replaced by the commit.
  const ManifestFile becomesFolder = Installed("maps", "a file");
  const std::vector<ManifestFile> oldFiles = {kept,          dropped,     droppedMissing, droppedLink,
                                              droppedFolder, throughLink, otherCase,      becomesFolder};
  const std::vector<ManifestFile> newFiles = {kept, {"data/case.pak", 4, kDigestA, 1}, {"Maps/1.map", 1, kDigestA, 1}};
  const FileWork work = ChooseFileWork(oldFiles, newFiles, Data());
  EXPECT_EQ(work.remove, (std::vector<std::string>{"data/old.pak"}));

  // Removal checks again when it happens.
  EXPECT_TRUE(RemoveDroppedFile(Data(), "data/old.pak"));
  EXPECT_FALSE(fs::exists(data_ / "data/old.pak"));
  EXPECT_TRUE(RemoveDroppedFile(Data(), "data/gone.pak"));
  if (links) {
    EXPECT_FALSE(RemoveDroppedFile(Data(), "data/link.pak"));
    EXPECT_TRUE(fs::is_symlink(data_ / "data/link.pak"));
  }
  EXPECT_FALSE(RemoveDroppedFile(Data(), "linked/keep.txt"));
  EXPECT_FALSE(RemoveDroppedFile(Data(), "data/now-a-folder"));
  EXPECT_TRUE(fs::is_directory(data_ / "data/now-a-folder"));
  EXPECT_FALSE(RemoveDroppedFile(Data(), "../outside/keep.txt"));
  EXPECT_EQ(ReadText(outside_ / "keep.txt"), "not the launcher's");
  EXPECT_EQ(ReadText(data_ / "unlisted.txt"), "the player's");
  EXPECT_EQ(ReadText(data_ / "kolv.exe"), "game");
}

TEST_F(FileWorkTest, FoldersTheDroppedFilesLeftEmptyGoAndNoOtherFolder) {
  Installed("old/deep/a.pak", "a");
  Installed("old/b.pak", "b");
  Installed("saves/dropped.pak", "c");
  WriteText(data_ / "saves" / "slot1.sav", "the player's");
  fs::create_directories(data_ / "empty-before");  // no dropped file lay in it
  const bool links = Link(outside_, data_ / "linked");
  fs::create_directories(outside_ / "emptied");
  std::vector<std::string> removed = {"old/deep/a.pak", "old/b.pak", "saves/dropped.pak", "top.pak"};
  if (links) removed.push_back("linked/emptied/x.pak");  // refused by the removal; its folders stay too
  for (const auto& path : removed) RemoveDroppedFile(Data(), path);

  std::vector<std::string> gone = RemoveEmptiedFolders(Data(), removed);
  std::sort(gone.begin(), gone.end());
  EXPECT_EQ(gone, (std::vector<std::string>{"old", "old/deep"}));
  EXPECT_FALSE(fs::exists(data_ / "old"));
  EXPECT_EQ(ReadText(data_ / "saves" / "slot1.sav"), "the player's");
  EXPECT_TRUE(fs::is_directory(data_ / "empty-before"));
  EXPECT_TRUE(fs::is_directory(data_));
  if (links) {
    EXPECT_TRUE(fs::is_symlink(data_ / "linked"));
    EXPECT_TRUE(fs::is_directory(outside_ / "emptied"));
  }
  EXPECT_EQ(ReadText(outside_ / "keep.txt"), "not the launcher's");

  // Nothing dropped in folders, or the data folder emptied of its last file: no folder goes.
  fs::remove(data_ / "saves" / "slot1.sav");
  EXPECT_TRUE(RemoveEmptiedFolders(Data(), {"top.pak"}).empty());
  EXPECT_TRUE(fs::is_directory(data_ / "saves"));
  EXPECT_TRUE(fs::is_directory(data_));
}

TEST(FileLevelShare, WholeArchiveOnceTheRangesReachHalfOfIt) {
  EXPECT_TRUE(ShareAllowsFiles(400, 99, 1000));
  EXPECT_FALSE(ShareAllowsFiles(400, 100, 1000));
  EXPECT_FALSE(ShareAllowsFiles(0, 0, 0));
  EXPECT_TRUE(ShareAllowsFiles(40ull << 20, 1 << 20, 20ull << 30));
  EXPECT_FALSE(ShareAllowsFiles(UINT64_MAX, UINT64_MAX, UINT64_MAX));
}

TEST(FileLevelShare, CentralDirectoryMustAgreeWithTheList) {
  const std::vector<RemoteEntry> entries = {
      {"data/", 0, 0, 0, 0, 0, 0},
      {"data/a.pak", 8, 0, 11, 90, 100, 40},
      {"kolv.exe", 0, 0x800, 22, 50, 50, 200},
  };
  const std::vector<ManifestFile> files = {{"kolv.exe", 50, kDigestA, 22}, {"data/a.pak", 100, kDigestA, 11}};
  std::vector<std::size_t> entryOf;
  EXPECT_EQ(CheckDirectoryAgrees(entries, files, entryOf), std::nullopt);
  EXPECT_EQ(entryOf, (std::vector<std::size_t>{2, 1}));

  const auto refused = [&](std::vector<RemoteEntry> changed, const char* what) {
    std::vector<std::size_t> unused{9};
    EXPECT_EQ(CheckDirectoryAgrees(changed, files, unused), FallbackReason::kDirectoryMismatch) << what;
    EXPECT_TRUE(unused.empty()) << what;
  };
  auto e = entries;
  e[1].name = "data/A.pak";
  refused(e, "name");
  e = entries;
  e[1].size = 101;
  refused(e, "size");
  e = entries;
  e[1].crc32 = 12;
  refused(e, "CRC-32");
  e = entries;
  e[1].method = 12;
  refused(e, "method");
  e = entries;
  e[1].flags = 1;
  refused(e, "encrypted");
  e = entries;
  e[2].compressedSize = 49;
  refused(e, "stored with another size");
  e = entries;
  e.push_back(entries[1]);
  refused(e, "a name twice");
}

TEST(FileLevelShare, LineSaysFilesAndBytes) {
  EXPECT_EQ(FileLevelLine(3, 512, 43201331, 6549825126), "file-level update: 3 of 512 files, 41.2 MB of 6.1 GB");
  EXPECT_EQ(ShortSize(512), "512 B");
  EXPECT_EQ(ShortSize(3 * 1024), "3.0 KB");
  EXPECT_EQ(ShortSize(1024 * 1024 - 1), "1.0 MB");
  EXPECT_EQ(ShortSize(1023), "1023 B");
}

}  // namespace

// The launcher killed half-way and a disk that fills up: the player sees the Retry/Cancel box
// (never a crash), no game starts from a half-written package, and the next run repairs the
// install to the exact published tree.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "app/settings.h"
#include "app/texts.h"
#include "package/staging.h"
#include "platform/text_encoding.h"
#include "tests/chaos/extraction_watch.h"
#include "tests/chaos/hostile_fixture.h"
#include "tests/chaos/tree_check.h"

namespace chaos {
namespace {

using testsupport::Fault;

std::uint64_t Pages(std::uint64_t bytes) { return (bytes + 4095) / 4096 * 4096; }

// What the build takes on a file system that allocates whole pages.
std::uint64_t TreeBytes(const std::filesystem::path& root) {
  std::uint64_t total = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    total += entry.is_regular_file() ? Pages(entry.file_size()) : 4096;
  }
  return total;
}

// A small tmpfs over a folder, for the length of a test.
class SmallDisk {
 public:
  SmallDisk(std::filesystem::path folder, std::uint64_t bytes) : folder_(std::move(folder)) {
    const std::string options = "size=" + std::to_string(Pages(bytes));
    if (mount("tmpfs", folder_.c_str(), "tmpfs", 0, options.c_str()) != 0) {
      error_ = std::strerror(errno);
      return;
    }
    mounted_ = true;
  }
  ~SmallDisk() {
    if (mounted_) umount2(folder_.c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool Mounted() const { return mounted_; }
  const std::string& Error() const { return error_; }
  bool Resize(std::uint64_t bytes) {
    const std::string options = "size=" + std::to_string(Pages(bytes));
    return mount("tmpfs", folder_.c_str(), "tmpfs", MS_REMOUNT, options.c_str()) == 0;
  }

 private:
  std::filesystem::path folder_;
  bool mounted_ = false;
  std::string error_;
};

class DiskFaultTest : public LauncherSandbox {
 protected:
  static ReleaseShape ManyFiles() {
    ReleaseShape shape = SmallShape();
    shape.smallFiles = 600;
    return shape;
  }
  void ExpectRepairedBy(const Release& release) {
    const Outcome repair = RunLauncher({});
    ExpectOrderlyEnd(repair);
    EXPECT_EQ(repair.gameStarts, std::vector<std::string>{"ok " + release.version}) << repair.errors.substr(0, 3000);
    EXPECT_EQ(TreeDifferences(release.buildFolder, Data()), std::vector<std::string>{});
    ExpectNothingWrittenOutside();
  }
};

#define SKIP_WITHOUT(disk)                                                                   \
  if (!(disk).Mounted()) {                                                                   \
    GTEST_SKIP() << "a tmpfs cannot be mounted here (" << (disk).Error() << "); needs root"; \
  }

// Many files, and the kill early among them: an install takes milliseconds, the kill lands a
// few of them after the file that triggered it.

std::set<std::string> NamesOf(const Release& release) {
  return {release.smallFileNames.begin(), release.smallFileNames.end()};
}

TEST_F(DiskFaultTest, KilledWhileUnpackingLeavesTheInstalledPackageAsItWas) {
  const Release old = PublishAndServe("1.0.1", 11);
  ASSERT_EQ(RunLauncher({}).gameStarts, std::vector<std::string>{"ok 1.0.1"});
  const Release release = PublishAndServe("1.0.2", 12, {"1.0.1"}, ManyFiles());
  ExtractionWatch watch(NamesOf(release), ExtractionWatch::Arrival::kCreated);
  const Outcome killed = RunLauncher({}, [&](LauncherProcess&) -> std::string {
    watch.Attach(Data() / kStagingFolderName);
    return watch.Poll() >= 5 ? "killed during extraction" : "";
  });
  ASSERT_EQ(killed.abortReason, "killed during extraction") << killed.errors.substr(0, 3000);
  EXPECT_TRUE(killed.gameStarts.empty());
  // Only the staging folder had changed: the installed tree is the old release, file for file.
  EXPECT_EQ(TreeDifferences(old.buildFolder, Data()), std::vector<std::string>{});
  ExpectRepairedBy(release);
}

TEST_F(DiskFaultTest, KilledDuringTheCommitNoGameStartsFromTheMixedTreeAndTheNextRunRepairs) {
  const Release old = PublishAndServe("1.0.1", 13, {}, ManyFiles());
  ASSERT_EQ(RunLauncher({}).gameStarts, std::vector<std::string>{"ok 1.0.1"});
  const Release release = PublishAndServe("1.0.2", 14, {"1.0.1"}, ManyFiles());
  ExtractionWatch watch(NamesOf(release), ExtractionWatch::Arrival::kMovedIn);
  const Outcome killed = RunLauncher({}, [&](LauncherProcess&) -> std::string {
    watch.Attach(Data());
    return watch.Poll() >= 5 ? "killed during the commit" : "";
  });
  ASSERT_EQ(killed.abortReason, "killed during the commit") << killed.errors.substr(0, 3000);
  EXPECT_TRUE(killed.gameStarts.empty());
  // Some files of each release: the tree that must never be started.
  EXPECT_NE(TreeDifferences(release.buildFolder, Data()), std::vector<std::string>{});
  EXPECT_NE(TreeDifferences(old.buildFolder, Data()), std::vector<std::string>{});
  ExpectRepairedBy(release);
}

// The record names the new package from the moment its download starts; the data folder still
// holds the old one until the extraction completes.
TEST_F(DiskFaultTest, KilledDuringAnUpdateDownloadNeverStartsTheOldPackage) {
  const Release old = PublishAndServe("1.0.1", 21);
  const Outcome first = RunLauncher({});
  ASSERT_EQ(first.gameStarts, std::vector<std::string>{"ok 1.0.1"}) << first.errors.substr(0, 3000);

  const Release update = PublishAndServe("1.0.2", 22, {"1.0.1"});
  Server().SetFault(update.zipName, Fault::StallAfter(update.zipBytes / 2, std::chrono::seconds(30)));
  const auto archive = Work() / update.zipName;
  const Outcome killed = RunLauncher({}, [&](LauncherProcess&) -> std::string {
    std::error_code error;
    const auto size = std::filesystem::file_size(archive, error);
    // The last bytes before the stall may still sit in the launcher's file buffer.
    return !error && size + 16384 >= update.zipBytes / 2 ? "killed during the download" : "";
  });
  ASSERT_EQ(killed.abortReason, "killed during the download");

  // The archive cannot be fetched now: the launcher must ask, not start version 1.0.1.
  Server().SetFault(update.zipName, Fault::Status(503));
  const Outcome stranded = RunLauncher({});
  ExpectOrderlyEnd(stranded);
  ExpectRetryBoxes(stranded);
  EXPECT_TRUE(stranded.gameStarts.empty()) << stranded.gameStarts.front();

  Server().ClearFault(update.zipName);
  ExpectRepairedBy(update);
  (void)old;
}

// The room box names the folder and both sizes as the launcher's own texts write them.
void ExpectSpaceBoxes(const Outcome& outcome, const std::filesystem::path& folder) {
  ASSERT_FALSE(outcome.prompts.empty());
  for (const auto& prompt : outcome.prompts) {
    EXPECT_NE(prompt.text.find(platform::GbkToUtf8(texts::kSpaceShortHead)), std::string::npos) << prompt.text;
    EXPECT_NE(prompt.text.find(platform::GbkToUtf8(texts::kSpaceWhere) + folder.string()), std::string::npos)
        << prompt.text;
    EXPECT_NE(prompt.text.find(platform::GbkToUtf8(texts::kSpaceAvailable)), std::string::npos) << prompt.text;
  }
}

TEST_F(DiskFaultTest, TooLittleRoomForTheArchiveShowsTheBoxBeforeAnyByteIsDownloaded) {
  const Release release = PublishAndServe("1.0.1", 31);
  SmallDisk disk(Work(), release.zipBytes / 2);
  SKIP_WITHOUT(disk);
  const Outcome full = RunLauncher({"r"});
  ExpectOrderlyEnd(full);
  ExpectRetryBoxes(full, 2);
  ExpectSpaceBoxes(full, Work() / settings::channelId);
  EXPECT_EQ(Server().BytesSent(release.zipName), 0u);
  EXPECT_FALSE(std::filesystem::exists(Work() / release.zipName));
  EXPECT_TRUE(full.gameStarts.empty());

  ASSERT_TRUE(disk.Resize(4 * (release.zipBytes + TreeBytes(release.buildFolder))));
  ExpectRepairedBy(release);
}

TEST_F(DiskFaultTest, TooLittleRoomForTheUnpackedFilesShowsTheBoxBeforeTheInstalledTreeChanges) {
  const Release old = PublishAndServe("1.0.1", 41);
  // Zeros deflate to nothing: the archive and its stand-in for the unpacked size fit, the
  // unpacked files (counted from the archive's central directory once it is here) do not.
  ReleaseShape shape = SmallShape();
  shape.zeroBytes = 8 * 1024 * 1024;
  const Release release = PublishAndServe("1.0.2", 42, {"1.0.1"}, shape);
  SmallDisk disk(Work(), TreeBytes(old.buildFolder) + 3 * Pages(release.zipBytes) + 256 * 1024);
  SKIP_WITHOUT(disk);
  // An installed game of an earlier release (without a record: the launcher must update it).
  std::filesystem::create_directories(Data());
  std::filesystem::copy(old.buildFolder, Data(), std::filesystem::copy_options::recursive);
  ASSERT_EQ(TreeDifferences(old.buildFolder, Data()), std::vector<std::string>{});
  const Outcome full = RunLauncher({"r"});
  ExpectOrderlyEnd(full);
  ExpectRetryBoxes(full, 2);
  ExpectSpaceBoxes(full, Data());
  EXPECT_TRUE(full.gameStarts.empty());
  EXPECT_EQ(TreeDifferences(old.buildFolder, Data()), std::vector<std::string>{});

  ASSERT_TRUE(disk.Resize(4 * (release.zipBytes + TreeBytes(release.buildFolder))));
  ExpectRepairedBy(release);
}

}  // namespace
}  // namespace chaos

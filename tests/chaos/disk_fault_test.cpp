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
#include "platform/text_encoding.h"
#include "tests/chaos/extraction_watch.h"
#include "tests/chaos/hostile_fixture.h"
#include "tests/chaos/tree_check.h"

namespace chaos {
namespace {

using testsupport::Fault;

bool AnyPromptContains(const Outcome& outcome, const char* gbk) {
  const std::string text = platform::GbkToUtf8(gbk);
  for (const auto& prompt : outcome.prompts) {
    if (prompt.text.find(text) != std::string::npos) return true;
  }
  return false;
}

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

TEST_F(DiskFaultTest, KilledDuringExtractionNoGameStartsAndTheNextRunRepairs) {
  // Many files, and the kill early among them: an extraction takes milliseconds, the kill lands
  // a few of them after the file that triggered it.
  ReleaseShape shape = SmallShape();
  shape.smallFiles = 600;
  const Release release = PublishAndServe("1.0.1", 11, {}, shape);
  ExtractionWatch watch(std::set<std::string>(release.smallFileNames.begin(), release.smallFileNames.end()));
  const int killAfter = 5;
  const Outcome killed = RunLauncher({}, [&](LauncherProcess&) -> std::string {
    watch.Attach(Data());
    return watch.Poll() >= killAfter ? "killed during extraction" : "";
  });
  ASSERT_EQ(killed.abortReason, "killed during extraction") << killed.errors.substr(0, 3000);
  EXPECT_TRUE(killed.gameStarts.empty());
  EXPECT_NE(TreeDifferences(release.buildFolder, Data()), std::vector<std::string>{});
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

TEST_F(DiskFaultTest, DiskFullDuringTheDownloadShowsTheBoxAndTheNextRunRepairs) {
  const Release release = PublishAndServe("1.0.1", 31);
  SmallDisk disk(Work(), release.zipBytes / 2);
  SKIP_WITHOUT(disk);
  const Outcome full = RunLauncher({"r"});
  ExpectOrderlyEnd(full);
  ExpectRetryBoxes(full, 2);
  EXPECT_TRUE(AnyPromptContains(full, texts::kClickToRetry)) << full.errors.substr(0, 3000);
  EXPECT_TRUE(full.gameStarts.empty());

  ASSERT_TRUE(disk.Resize(4 * (release.zipBytes + TreeBytes(release.buildFolder))));
  ExpectRepairedBy(release);
}

TEST_F(DiskFaultTest, DiskFullDuringTheExtractionShowsTheBoxAndTheNextRunRepairs) {
  const Release release = PublishAndServe("1.0.1", 41);
  // Room for the archive and the record, and for half of the unpacked build.
  SmallDisk disk(Work(), Pages(release.zipBytes) + 64 * 1024 + TreeBytes(release.buildFolder) / 2);
  SKIP_WITHOUT(disk);
  const Outcome full = RunLauncher({"r"});
  ExpectOrderlyEnd(full);
  ExpectRetryBoxes(full, 2);
  EXPECT_TRUE(AnyPromptContains(full, texts::kUnzipFailedHead)) << full.errors.substr(0, 3000);
  EXPECT_TRUE(full.gameStarts.empty());

  ASSERT_TRUE(disk.Resize(4 * (release.zipBytes + TreeBytes(release.buildFolder))));
  ExpectRepairedBy(release);
}

}  // namespace
}  // namespace chaos

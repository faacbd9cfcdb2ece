// Packages past 4 GiB through the real launcher and the local content server: an entry of
// 4 GiB + 1 byte published by launcher-publish, an archive written by Python's zipfile whose
// later entries start past 4 GiB, and a game whose 4.5 GiB file changes from one release to the
// next. Sparse files keep the build and the archive from taking disk;
// the launcher's download and the unpacked entry are real bytes. Each case prints its time and
// the launcher's peak memory.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>

#include "tests/e2e/launcher_fixture.h"
#include "tools/publish/md5_digest.h"
#include "tools/publish/release_documents.h"

namespace e2e {
namespace {

using std::chrono::seconds;

constexpr std::uint64_t k4GiB = 4ull << 30;
constexpr seconds kLargeRunTimeout{420};

void MakeSparse(const fs::path& file, std::uint64_t size) {
  std::ofstream(file, std::ios::binary).close();
  fs::resize_file(file, size);
}

// Writes `text` into an existing file at `offset`, leaving the rest of it (and its holes) alone.
void WriteAt(const fs::path& file, std::uint64_t offset, const std::string& text) {
  std::fstream out(file, std::ios::binary | std::ios::in | std::ios::out);
  out.seekp(static_cast<std::streamoff>(offset));
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  ASSERT_TRUE(out.good()) << file;
}

// Whether two files hold the same bytes, compared by cmp(1) so that gigabytes stream through.
bool SameBytes(const fs::path& a, const fs::path& b) {
  const std::string command = "cmp -s '" + a.string() + "' '" + b.string() + "'";
  return std::system(command.c_str()) == 0;
}

void Report(const char* what, const LauncherRun& run) {
  std::printf("%s: launcher run %.1f s, peak resident memory %ld KiB\n", what,
              static_cast<double>(run.elapsed.count()) / 1000.0, run.peakResidentKiB);
  std::fflush(stdout);  // seen even when a later step of the case runs out of time
  ::testing::Test::RecordProperty("launcher_ms", std::to_string(run.elapsed.count()));
  ::testing::Test::RecordProperty("launcher_peak_kib", std::to_string(run.peakResidentKiB));
}

class LargePackageTest : public LauncherFixture {};

TEST_F(LargePackageTest, EntryOf4GiBPlusOneByteIsPublishedInstalledWholeAndStartsTheGame) {
  const fs::path build = MakeGameBuild("1.0.0");
  MakeSparse(build / "huge.pak", k4GiB + 1);
  Publish("1.0.0");
  StartServer();

  const LauncherRun run = RunLauncher({"big"}, "", kLargeRunTimeout);
  Report("entry of 4 GiB + 1 byte", run);

  ASSERT_EQ(run.exitCode, 0) << run.output;
  const fs::path installed = DataFolder() / "huge.pak";
  ASSERT_EQ(fs::file_size(installed), k4GiB + 1) << run.output;
  EXPECT_TRUE(SameBytes(installed, build / "huge.pak"));
  EXPECT_EQ(ReadText(DataFolder() / "version.txt"), "1.0.0");
  const auto runs = GameRuns(1);
  ASSERT_EQ(runs.size(), 1u) << run.output;
  EXPECT_EQ(runs[0].args, std::vector<std::string>{"big"});
  EXPECT_FALSE(fs::exists(DownloadFolder()));
  // Inflated into the staging folder as it downloaded, sizes from the local zip64 field.
  EXPECT_NE(run.output.find("entries while downloading"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("unpacking after the download"), std::string::npos) << run.output;
}

TEST_F(LargePackageTest, ArchivePast4GiBFromPythonZipfileInstallsTheEntriesBeyondTheLimit) {
  const fs::path build = MakeGameBuild("1.0.0");
  std::mt19937 generator(7);
  std::string late(1 << 20, '\0');
  for (auto& byte : late) byte = static_cast<char>(generator());
  WriteText(build / "assets" / "late.pak", late);
  WriteText(build / "zz_last.txt", "the archive's last entry");

  // Two entries before the gap, two after it: the later ones start past 4 GiB.
  fs::create_directories(ContentChannel());
  const fs::path archive = ContentChannel() / "res_1_0_0.zip";
  const std::string make = std::string("'") + LAUNCHER_PYTHON + "' '" + LAUNCHER_PADDED_ARCHIVE + "' '" +
                           archive.string() + "' " + std::to_string(k4GiB) + " '" + build.string() +
                           "' kolv.exe version.txt -- assets/late.pak zz_last.txt";
  ASSERT_EQ(std::system(make.c_str()), 0);
  ASSERT_GT(fs::file_size(archive), k4GiB);
  publish::FileInfoDocument info;
  info.zipName = std::string(kChannel) + "/res_1_0_0.zip";
  info.zipMd5 = publish::Md5OfFile(archive);
  info.zipBytes = fs::file_size(archive);
  info.fileNameList = {"kolv.exe", "version.txt", "assets", "assets/late.pak", "zz_last.txt"};
  WriteText(ContentChannel() / "fileInfo_1_0_0.json", publish::WriteFileInfo(info));
  WriteText(ContentChannel() / "config.json", publish::WriteConfig("", "1.0.0", std::vector<std::string>{}));
  StartServer();

  const LauncherRun run = RunLauncher({"far"}, "", kLargeRunTimeout);
  Report("archive past 4 GiB", run);

  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(ReadText(DataFolder() / "assets" / "late.pak"), late) << run.output;
  EXPECT_EQ(ReadText(DataFolder() / "zz_last.txt"), "the archive's last entry");
  EXPECT_EQ(access((DataFolder() / kGameExe).c_str(), X_OK), 0);
  const auto runs = GameRuns(1);
  ASSERT_EQ(runs.size(), 1u) << run.output;
  EXPECT_EQ(runs[0].args, std::vector<std::string>{"far"});
  EXPECT_FALSE(fs::exists(DownloadFolder())) << "the 4 GiB download is removed once unpacked";
  // The gap holds no local header: the stream stops there and the central directory decides.
  EXPECT_NE(run.output.find("unpacking after the download: no local header where an entry should start"),
            std::string::npos)
      << run.output;
}

// Release 1 holds a 4.5 GiB file; release 2 rewrites it shorter, with other bytes on both sides
// of 4 GiB and near its end, and changes the small files. An update that kept the old file's
// tail, wrote a block at its offset modulo 4 GiB or counted sizes in 32 bits would leave a file
// that differs from the release's. (A second multi-GiB file would only add minutes: every size
// and offset past 4 GiB is already in this one.)
TEST_F(LargePackageTest, GameWithA4Point5GiBFileUpdatesToTheNextReleaseByteForByte) {
  constexpr std::uint64_t kBigV1 = k4GiB + (512ull << 20) + 4096;
  constexpr std::uint64_t kBigV2 = k4GiB + (512ull << 20);

  const fs::path v1 = MakeGameBuild("1.0.0");
  MakeSparse(v1 / "huge.pak", kBigV1);
  WriteAt(v1 / "huge.pak", 1000, "release one, before the limit");
  WriteAt(v1 / "huge.pak", k4GiB + 1000, "release one, past the limit");
  WriteText(v1 / "assets" / "levels.txt", "levels of the first release");
  Publish("1.0.0");
  StartServer();

  const LauncherRun first = RunLauncher({"first"}, "", kLargeRunTimeout);
  Report("4.5 GiB file, first install", first);
  ASSERT_EQ(first.exitCode, 0) << first.output;
  ASSERT_EQ(fs::file_size(DataFolder() / "huge.pak"), kBigV1) << first.output;
  ASSERT_EQ(ReadText(DataFolder() / "version.txt"), "1.0.0");

  const fs::path v2 = MakeGameBuild("1.0.1");
  MakeSparse(v2 / "huge.pak", kBigV2);
  WriteAt(v2 / "huge.pak", 1000, "release two changes the start");
  WriteAt(v2 / "huge.pak", k4GiB - 7, "across the 4 GiB line");
  WriteAt(v2 / "huge.pak", kBigV2 - 16, "and its last 16");
  WriteText(v2 / "assets" / "levels.txt", "levels of the second release");
  Publish("1.0.1", {"1.0.x"});
  ClearLog();

  const LauncherRun update = RunLauncher({"updated"}, "", kLargeRunTimeout);
  Report("4.5 GiB file, update", update);

  ASSERT_EQ(update.exitCode, 0) << update.output;
  EXPECT_EQ(WholeArchiveLogFor("/MorvanePC1/res_1_0_1.zip").size(), 1u) << update.output;
  EXPECT_EQ(ReadText(DataFolder() / "version.txt"), "1.0.1");
  EXPECT_EQ(ReadText(DataFolder() / "assets" / "levels.txt"), "levels of the second release");
  EXPECT_EQ(ReadText(DataFolder() / "assets" / "pack0.bin"), ReadText(v2 / "assets" / "pack0.bin"));
  EXPECT_EQ(fs::file_size(DataFolder() / "huge.pak"), kBigV2) << "the longer file of release 1 is cut";
  EXPECT_TRUE(SameBytes(DataFolder() / "huge.pak", v2 / "huge.pak"));
  const auto runs = GameRuns(2);
  ASSERT_EQ(runs.size(), 2u) << update.output;
  EXPECT_EQ(runs[1].args, std::vector<std::string>{"updated"});
  EXPECT_FALSE(fs::exists(DownloadFolder()));
}

}  // namespace
}  // namespace e2e

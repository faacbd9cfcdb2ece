// Packages past 4 GiB through the real launcher and the local content server: an entry of
// 4 GiB + 1 byte published by launcher-publish, and an archive written by Python's zipfile whose
// later entries start past 4 GiB. Sparse files keep the build and the archive from taking disk;
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

// Whether two files hold the same bytes, compared by cmp(1) so that gigabytes stream through.
bool SameBytes(const fs::path& a, const fs::path& b) {
  const std::string command = "cmp -s '" + a.string() + "' '" + b.string() + "'";
  return std::system(command.c_str()) == 0;
}

void Report(const char* what, const LauncherRun& run) {
  std::printf("%s: launcher run %.1f s, peak resident memory %ld KiB\n", what,
              static_cast<double>(run.elapsed.count()) / 1000.0, run.peakResidentKiB);
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
}

}  // namespace
}  // namespace e2e

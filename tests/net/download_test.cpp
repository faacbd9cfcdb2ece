// Archive downloads through the real libcurl code against the in-process content server.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "net/http_util.h"
#include "tests/net/transfer_recorder.h"
#include "tests/support/content_server.h"
#include "tests/support/scratch_dir.h"

using testsupport::ContentServer;
using testsupport::Fault;
using testsupport::NoLengthKind;
using testsupport::ScratchDir;

namespace {

constexpr std::size_t kArchiveSize = 300 * 1024;

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    archive_ = PatternBytes(kArchiveSize);
    server_.AddFile("MorvanePC1/pkg.zip", archive_);
    local_ = scratch_.File("pkg.zip");
  }

  // Runs one download with stdout captured; returns what it printed.
  std::string Download(const std::string& path, std::uint64_t offset, const std::string& localPath) {
    DownloadTask task;
    task.resumeOffset = offset;
    task.localPath = localPath;
    task.callback = recorder_.Callback();
    task.url = server_.Url(path);
    task.stallSeconds = 5;
    task.archiveBytes = archiveBytes_;
    ::testing::internal::CaptureStdout();
    HttpUtil::Download(task);
    return ::testing::internal::GetCapturedStdout();
  }

  TransferCall OnlyFinal() const {
    const auto finals = recorder_.Finals();
    EXPECT_EQ(finals.size(), 1u);
    EXPECT_TRUE(recorder_.FinalIsLast());
    return finals.empty() ? TransferCall{} : finals.back();
  }

  ContentServer server_;
  ScratchDir scratch_{"net-download"};
  TransferRecorder recorder_;
  std::string archive_;
  std::string local_;
  std::uint64_t archiveBytes_ = 0;
};

TEST_F(DownloadTest, FreshDownloadWritesTheBodyAndReportsProgressThenSucc) {
  const std::string out = Download("MorvanePC1/pkg.zip", 0, local_);

  EXPECT_TRUE(SameBytes(ReadFileBytes(local_), archive_));
  const auto final = OnlyFinal();
  EXPECT_EQ(final.status, "succ");
  EXPECT_EQ(final.payload, "");
  EXPECT_EQ(final.first, 0);
  EXPECT_EQ(final.second, 0);
  EXPECT_EQ(out, "download succ from " + server_.Url("MorvanePC1/pkg.zip") + " to " + local_);

  const auto progress = recorder_.Progress();
  ASSERT_FALSE(progress.empty());
  double previous = 0;
  for (const auto& call : progress) {
    EXPECT_EQ(call.payload, "");
    EXPECT_EQ(call.second, static_cast<double>(kArchiveSize));
    EXPECT_GE(call.first, previous);
    EXPECT_LE(call.first, call.second);
    previous = call.first;
  }
  EXPECT_EQ(server_.LogFor("MorvanePC1/pkg.zip").at(0).range, "");
}

TEST_F(DownloadTest, OffsetZeroTruncatesAnExistingFile) {
  WriteFileBytes(local_, std::string(kArchiveSize * 2, 'x'));
  Download("MorvanePC1/pkg.zip", 0, local_);
  EXPECT_EQ(OnlyFinal().status, "succ");
  EXPECT_TRUE(SameBytes(ReadFileBytes(local_), archive_));
}

TEST_F(DownloadTest, ResumeAsksForTheRangeAndAppendsTheRest) {
  const std::size_t have = 100000;
  WriteFileBytes(local_, archive_.substr(0, have));
  Download("MorvanePC1/pkg.zip", have, local_);

  EXPECT_EQ(OnlyFinal().status, "succ");
  EXPECT_TRUE(SameBytes(ReadFileBytes(local_), archive_));
  const auto log = server_.LogFor("MorvanePC1/pkg.zip");
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].range, "bytes=100000-");
  EXPECT_EQ(log[0].status, 206);
  EXPECT_EQ(server_.WaitForBytesSent("MorvanePC1/pkg.zip", kArchiveSize - have), kArchiveSize - have);
  // The expected size counts only the part still to come.
  const auto progress = recorder_.Progress();
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back().second, static_cast<double>(kArchiveSize - have));
}

// A server that ignores the range sends the whole archive: written from the start of the file,
// it is the archive, and nothing is downloaded twice.
TEST_F(DownloadTest, ServerIgnoringTheRangeGetsTheWholeBodyWrittenFromTheStart) {
  server_.SetFault("MorvanePC1/pkg.zip", Fault::IgnoreRange());
  const std::size_t have = 1000;
  WriteFileBytes(local_, std::string(have, 'x'));
  const std::string out = Download("MorvanePC1/pkg.zip", have, local_);

  EXPECT_EQ(OnlyFinal().status, "succ");
  EXPECT_EQ(server_.LogFor("MorvanePC1/pkg.zip").size(), 1u);
  EXPECT_EQ(server_.LogFor("MorvanePC1/pkg.zip").at(0).status, 200);
  EXPECT_TRUE(SameBytes(ReadFileBytes(local_), archive_));
  EXPECT_NE(out.find("the server ignored the range"), std::string::npos) << out;
  // The progress receiver hears that the bytes kept are back to 0 before the progress of the body.
  const auto calls = recorder_.Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front().status, "restart");
  EXPECT_EQ(calls.front().first, 0);
}

// A partial file longer than what the server holds (416) is dropped, and the archive asked for
// again from the start, in the same download.
TEST_F(DownloadTest, PartialLongerThanTheServersArchiveStartsOver) {
  const std::size_t have = kArchiveSize + 5000;
  WriteFileBytes(local_, std::string(have, 'x'));
  const std::string out = Download("MorvanePC1/pkg.zip", have, local_);

  EXPECT_EQ(OnlyFinal().status, "succ");
  EXPECT_TRUE(SameBytes(ReadFileBytes(local_), archive_));
  const auto log = server_.LogFor("MorvanePC1/pkg.zip");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].status, 416);
  EXPECT_EQ(log[0].range, "bytes=" + std::to_string(have) + "-");
  EXPECT_EQ(log[1].status, 200);
  EXPECT_EQ(log[1].range, "");
  EXPECT_NE(out.find("downloading from the start"), std::string::npos) << out;
}

TEST_F(DownloadTest, LocalFileLongerThanTheOffsetIsCutBeforeResuming) {
  const std::size_t have = 5000;
  WriteFileBytes(local_, archive_.substr(0, have) + "stray bytes of an earlier attempt");
  Download("MorvanePC1/pkg.zip", have, local_);
  EXPECT_EQ(OnlyFinal().status, "succ");
  EXPECT_TRUE(SameBytes(ReadFileBytes(local_), archive_));
}

TEST_F(DownloadTest, LocalFileShorterThanTheOffsetOrMissingStartsOver) {
  WriteFileBytes(local_, archive_.substr(0, 10));
  Download("MorvanePC1/pkg.zip", 5000, local_);
  EXPECT_EQ(OnlyFinal().status, "succ");
  EXPECT_TRUE(SameBytes(ReadFileBytes(local_), archive_));
  EXPECT_EQ(server_.LogFor("MorvanePC1/pkg.zip").at(0).range, "");

  const std::string missing = scratch_.File("other.zip");
  Download("MorvanePC1/pkg.zip", 5000, missing);
  EXPECT_TRUE(SameBytes(ReadFileBytes(missing), archive_));
}

TEST_F(DownloadTest, ErrorStatusesFailWithTheStatusAndKeepThePartialFileClean) {
  for (const int code : {404, 408, 500}) {
    SCOPED_TRACE(code);
    recorder_.Reset();
    const std::string path = "status" + std::to_string(code) + ".zip";
    server_.SetFault(path, Fault::Status(code, "an error page"));
    WriteFileBytes(local_, "partial");
    const std::string out = Download(path, 7, local_);

    const std::string text = "curl perform fail, curl_code 0 (No error), ret_code " + std::to_string(code);
    const auto final = OnlyFinal();
    EXPECT_EQ(final.status, "fail");
    EXPECT_EQ(final.payload, text);
    EXPECT_EQ(final.first, 0);
    EXPECT_EQ(final.second, code);
    // The 7 bytes kept are hashed while the connection is made; then the failure's line.
    EXPECT_EQ(out, "hashing the 7 bytes already downloaded\n" + text);
    EXPECT_TRUE(SameBytes(ReadFileBytes(local_), "partial"));  // the error page is not appended
  }
}

TEST_F(DownloadTest, MissingFileOnTheServerIs404) {
  Download("MorvanePC1/absent.zip", 0, local_);
  const auto final = OnlyFinal();
  EXPECT_EQ(final.status, "fail");
  EXPECT_EQ(final.first, 0);
  EXPECT_EQ(final.second, 404);
}

TEST_F(DownloadTest, NoLengthGivesNoProgressOnlyTheFinalCall) {
  for (const auto kind : {NoLengthKind::kChunked, NoLengthKind::kCloseDelimited}) {
    recorder_.Reset();
    server_.SetFault("MorvanePC1/pkg.zip", Fault::NoLength(kind));
    Download("MorvanePC1/pkg.zip", 0, local_);
    EXPECT_TRUE(recorder_.Progress().empty());
    EXPECT_EQ(OnlyFinal().status, "succ");
    EXPECT_TRUE(SameBytes(ReadFileBytes(local_), archive_));
  }
}

TEST_F(DownloadTest, NoLengthShowsProgressAgainstTheArchiveSizeWhenItIsKnown) {
  for (const auto kind : {NoLengthKind::kChunked, NoLengthKind::kCloseDelimited}) {
    recorder_.Reset();
    server_.SetFault("MorvanePC1/pkg.zip", Fault::NoLength(kind));
    archiveBytes_ = kArchiveSize;
    Download("MorvanePC1/pkg.zip", 0, local_);
    EXPECT_EQ(OnlyFinal().status, "succ");
    EXPECT_TRUE(SameBytes(ReadFileBytes(local_), archive_));
    const auto progress = recorder_.Progress();
    ASSERT_FALSE(progress.empty());
    for (const auto& call : progress) EXPECT_EQ(call.second, kArchiveSize);
    EXPECT_EQ(progress.back().first, kArchiveSize);
  }
}

TEST_F(DownloadTest, ConnectionDroppedMidBodyFailsKeepsThePartAndResumesFromIt) {
  server_.SetFault("MorvanePC1/pkg.zip", Fault::CloseAfter(70000));
  Download("MorvanePC1/pkg.zip", 0, local_);
  auto final = OnlyFinal();
  EXPECT_EQ(final.status, "fail");
  EXPECT_EQ(final.first, 18);  // partial file
  EXPECT_EQ(final.second, 200);
  EXPECT_EQ(final.payload, "curl perform fail, curl_code 18 (Transferred a partial file), ret_code 200");
  ASSERT_TRUE(SameBytes(ReadFileBytes(local_), archive_.substr(0, 70000)));

  server_.ClearFault("MorvanePC1/pkg.zip");
  recorder_.Reset();
  Download("MorvanePC1/pkg.zip", 70000, local_);
  EXPECT_EQ(OnlyFinal().status, "succ");
  EXPECT_TRUE(SameBytes(ReadFileBytes(local_), archive_));
}

// Takes about five seconds: the low-speed rule is what ends the stalled transfer.
TEST_F(DownloadTest, StalledTransferFailsAfterTheLowSpeedRuleAndResumes) {
  server_.SetFault("MorvanePC1/pkg.zip", Fault::StallAfter(50000, std::chrono::seconds(60)));
  const auto started = std::chrono::steady_clock::now();
  Download("MorvanePC1/pkg.zip", 0, local_);
  const auto elapsed = std::chrono::steady_clock::now() - started;

  const auto final = OnlyFinal();
  EXPECT_EQ(final.status, "fail");
  EXPECT_EQ(final.first, 28);  // operation timed out
  EXPECT_EQ(final.second, 200);
  EXPECT_GE(elapsed, std::chrono::seconds(4));
  EXPECT_LT(elapsed, std::chrono::seconds(20));
  ASSERT_TRUE(SameBytes(ReadFileBytes(local_), archive_.substr(0, 50000)));

  server_.ClearFault("MorvanePC1/pkg.zip");
  recorder_.Reset();
  Download("MorvanePC1/pkg.zip", 50000, local_);
  EXPECT_EQ(OnlyFinal().status, "succ");
  EXPECT_TRUE(SameBytes(ReadFileBytes(local_), archive_));
}

TEST_F(DownloadTest, RedirectIsFollowedAndALoopEnds) {
  server_.SetFault("moved.zip", Fault::Redirect("MorvanePC1/pkg.zip"));
  Download("moved.zip", 0, local_);
  EXPECT_EQ(OnlyFinal().status, "succ");
  EXPECT_TRUE(SameBytes(ReadFileBytes(local_), archive_));

  recorder_.Reset();
  server_.SetFault("loop.zip", Fault::Redirect("loop.zip"));
  Download("loop.zip", 0, local_);
  const auto final = OnlyFinal();
  EXPECT_EQ(final.status, "fail");
  EXPECT_EQ(final.first, 47);  // too many redirects
  EXPECT_EQ(final.second, 302);
}

TEST_F(DownloadTest, NoServerFailsWithStatusZero) {
  const std::string url = server_.Url("MorvanePC1/pkg.zip");
  server_.Stop();
  DownloadTask task{0, local_, recorder_.Callback(), url};
  ::testing::internal::CaptureStdout();
  HttpUtil::Download(task);
  ::testing::internal::GetCapturedStdout();
  const auto final = OnlyFinal();
  EXPECT_EQ(final.status, "fail");
  EXPECT_EQ(final.first, 7);  // could not connect
  EXPECT_EQ(final.second, 0);
}

TEST_F(DownloadTest, LocalFileThatCannotBeOpenedFailsWithoutARequest) {
  const std::string inMissingFolder = scratch_.File("no-such-folder/pkg.zip");
  for (const std::uint64_t offset : {std::uint64_t{0}, std::uint64_t{100}}) {
    recorder_.Reset();
    Download("MorvanePC1/pkg.zip", offset, inMissingFolder);
    const auto final = OnlyFinal();
    EXPECT_EQ(final.status, "fail");
    EXPECT_EQ(final.payload, "can not open local file " + inMissingFolder);
    EXPECT_EQ(final.first, 0);
    EXPECT_EQ(final.second, 0);
  }
  EXPECT_EQ(server_.RequestCount("MorvanePC1/pkg.zip"), 0);
  EXPECT_FALSE(std::filesystem::exists(scratch_.Path() / "no-such-folder"));
}

TEST_F(DownloadTest, FullDiskFailsWhetherTheErrorShowsWhileWritingOrOnlyAtClose) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  server_.AddFile("small.txt", "a few bytes that stay in the stdio buffer");
  for (const std::string path : {"MorvanePC1/pkg.zip", "small.txt"}) {
    SCOPED_TRACE(path);
    recorder_.Reset();
    Download(path, 0, "/dev/full");
    const auto final = OnlyFinal();
    EXPECT_EQ(final.status, "fail");
    EXPECT_EQ(final.first, 23);  // write error
    EXPECT_EQ(final.second, 200);
  }
}

TEST_F(DownloadTest, MemoryModeHandsTheBodyToSucc) {
  Download("MorvanePC1/pkg.zip", 0, "");
  const auto final = OnlyFinal();
  EXPECT_EQ(final.status, "succ");
  EXPECT_TRUE(SameBytes(final.payload, archive_));
}

// Offsets past 2 GiB and 4 GiB: sparse files on both sides keep the disk use to a few blocks.
TEST_F(DownloadTest, ResumesFromOffsetsBeyondFourGibibytes) {
  const std::uint64_t total = (5ull << 30) + 3 * 65536;
  const std::uint64_t have = (5ull << 30) + 1000;
  const std::string tail = PatternBytes(static_cast<std::size_t>(total - (5ull << 30)), 7);
  const ScratchDir served("net-sparse-served");
  const std::string servedFile = served.File("big.zip");
  {
    WriteFileBytes(servedFile, "");
    std::filesystem::resize_file(servedFile, 5ull << 30);
    std::ofstream out(servedFile, std::ios::binary | std::ios::app);
    out << tail;
  }
  ASSERT_EQ(std::filesystem::file_size(servedFile), total);
  server_.ServeFolder(served.Path());
  WriteFileBytes(local_, "");
  std::filesystem::resize_file(local_, have);

  Download("big.zip", have, local_);

  EXPECT_EQ(OnlyFinal().status, "succ");
  EXPECT_EQ(server_.LogFor("big.zip").at(0).range, "bytes=" + std::to_string(have) + "-");
  EXPECT_EQ(std::filesystem::file_size(local_), total);
  std::ifstream in(local_, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(5ull << 30));
  std::string written(tail.size(), '\0');
  in.read(written.data(), static_cast<std::streamsize>(written.size()));
  EXPECT_TRUE(SameBytes(written.substr(1000), tail.substr(1000)));
  const auto progress = recorder_.Progress();
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back().second, static_cast<double>(total - have));
}

}  // namespace

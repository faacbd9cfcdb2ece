// The archive's MD5 and SHA-256 taken while it downloads, compared with md5sum and sha256sum of
// the file the download left behind: through nginx fresh, resumed from a partial file of an
// earlier run and restarted by a server that ignores the range; through the test server cut at
// several points and continued by the next mirror, or by a later run.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "net/archive_failover.h"
#include "net/http_util.h"
#include "package/archive_digest.h"
#include "tests/net/transfer_recorder.h"
#include "tests/support/content_server.h"
#include "tests/support/nginx_server.h"
#include "tests/support/scratch_dir.h"

namespace {

using testsupport::ContentServer;
using testsupport::Fault;
using testsupport::NginxServer;
using testsupport::ScratchDir;

constexpr std::size_t kArchiveSize = 3 * 1024 * 1024 + 12345;  // several receive buffers and read blocks
const char* const kPath = "MorvanePC1/pkg.zip";

std::string RandomBytes(std::size_t size) {
  std::mt19937_64 generator(42);
  std::string bytes(size, '\0');
  for (auto& byte : bytes) byte = static_cast<char>(generator());
  return bytes;
}

// The first word of `tool <path>`: what coreutils says the file hashes to.
std::string ToolDigest(const std::string& tool, const std::string& path) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen((tool + " '" + path + "'").c_str(), "r"), pclose);
  if (!pipe) return "cannot run " + tool;
  std::array<char, 256> line{};
  if (std::fgets(line.data(), line.size(), pipe.get()) == nullptr) return tool + " printed nothing";
  const std::string text(line.data());
  return text.substr(0, text.find(' '));
}

class DownloadDigestTest : public ::testing::Test {
 protected:
  void TearDown() override { DigestMemo::Forget(local_); }

  // One download of `url` into the local file, resuming after `offset` bytes already there.
  TransferCall Download(const std::string& url, std::uint64_t offset, bool withSha256 = true) {
    TransferRecorder recorder;
    DownloadTask task;
    task.resumeOffset = offset;
    task.localPath = local_;
    task.callback = recorder.Callback();
    task.url = url;
    task.stallSeconds = 5;
    task.archiveBytes = kArchiveSize;
    task.maxBodyBytes = kArchiveSize;
    task.withSha256 = withSha256;
    ::testing::internal::CaptureStdout();
    HttpUtil::Download(task);
    output_ = ::testing::internal::GetCapturedStdout();
    const auto finals = recorder.Finals();
    return finals.empty() ? TransferCall{} : finals.back();
  }

  // The memo must hold the digests of exactly the file on disk, as the tools compute them.
  void ExpectDigestsOfTheFile(bool withSha256 = true) {
    ASSERT_TRUE(SameBytes(ReadFileBytes(local_), archive_));
    const auto digests = DigestMemo::Find(local_);
    ASSERT_TRUE(digests.has_value()) << output_;
    EXPECT_EQ(digests->bytes, kArchiveSize);
    EXPECT_EQ(digests->md5, ToolDigest("md5sum", local_));
    if (withSha256) {
      EXPECT_EQ(digests->sha256, ToolDigest("sha256sum", local_));
    } else {
      EXPECT_EQ(digests->sha256, "");
    }
  }

  ScratchDir scratch_{"net-digest"};
  std::string local_ = scratch_.File("pkg.zip");
  std::string archive_ = RandomBytes(kArchiveSize);
  std::string output_;
};

class NginxDigestTest : public DownloadDigestTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(nginx_.Started()) << nginx_.ErrorLog();
    std::filesystem::create_directories(nginx_.Root() / "MorvanePC1");
    std::ofstream(nginx_.Root() / kPath, std::ios::binary) << archive_;
  }

  // Port 0 honours ranges; port 1 answers every range request with the whole archive.
  NginxServer nginx_{R"(server { listen 127.0.0.1:@PORT0@; root @ROOT@; }
                        server { listen 127.0.0.1:@PORT1@; root @ROOT@; max_ranges 0; })",
                     2};
};

TEST_F(NginxDigestTest, FreshDownloadHasTheDigestsOfItsFile) {
  EXPECT_EQ(Download(nginx_.Url(0, kPath), 0).status, "succ") << output_;
  ExpectDigestsOfTheFile();
  EXPECT_EQ(output_.find("hashing the"), std::string::npos) << output_;
}

TEST_F(NginxDigestTest, WithoutSha256OnlyTheMd5IsTaken) {
  EXPECT_EQ(Download(nginx_.Url(0, kPath), 0, false).status, "succ") << output_;
  ExpectDigestsOfTheFile(false);
}

// A partial archive left by an earlier run: its bytes are hashed from the disk, then the rest as it arrives.
TEST_F(NginxDigestTest, ResumedDownloadHashesTheBytesAlreadyOnDiskFirst) {
  int requests = 0;
  for (const std::size_t kept :
       {std::size_t{1}, std::size_t{65535}, std::size_t{1024 * 1024}, kArchiveSize / 2 + 7, kArchiveSize - 1}) {
    SCOPED_TRACE("kept " + std::to_string(kept));
    WriteFileBytes(local_, archive_.substr(0, kept));
    EXPECT_EQ(Download(nginx_.Url(0, kPath), kept).status, "succ") << output_;
    ASSERT_EQ(nginx_.WaitForRequests(0, kPath, ++requests), requests);
    const std::string line = nginx_.LogLines(0).back();
    EXPECT_EQ(line.substr(line.rfind(' ') + 1), "\"bytes=" + std::to_string(kept) + "-\"");
    EXPECT_NE(output_.find("hashing the " + std::to_string(kept) + " bytes already downloaded"), std::string::npos)
        << output_;
    ExpectDigestsOfTheFile();
  }
}

// The whole archive in answer to a range: the file and the digest both start over.
TEST_F(NginxDigestTest, ServerIgnoringTheRangeRestartsTheDigest) {
  WriteFileBytes(local_, std::string(kArchiveSize / 2, 'x'));  // the bytes kept are not even the archive's
  EXPECT_EQ(Download(nginx_.Url(1, kPath), kArchiveSize / 2).status, "succ") << output_;
  ExpectDigestsOfTheFile();
}

class CutDigestTest : public DownloadDigestTest {
 protected:
  void SetUp() override {
    server_.AddFile(kPath, archive_);
    server_.AddFile("cut/pkg.zip", archive_);
  }
  ContentServer server_;
};

// A mirror that drops the connection part-way, then the next one resuming: one digest over both
// answers, no byte read back from the disk.
TEST_F(CutDigestTest, MirrorTakingOverContinuesTheDigest) {
  for (const std::uint64_t cut : {std::uint64_t{1}, std::uint64_t{16383}, std::uint64_t{16384},
                                  std::uint64_t{kArchiveSize / 3}, std::uint64_t{kArchiveSize - 1}}) {
    SCOPED_TRACE("cut after " + std::to_string(cut));
    std::filesystem::remove(local_);
    server_.SetFault("cut/pkg.zip", Fault::CloseAfter(cut));
    TransferRecorder recorder;
    DownloadTask task;
    task.localPath = local_;
    task.callback = recorder.Callback();
    task.url = server_.Url("cut/pkg.zip");
    task.mirrorUrls = {server_.Url(kPath)};
    task.stallSeconds = 5;
    task.archiveBytes = kArchiveSize;
    task.maxBodyBytes = kArchiveSize;
    task.withSha256 = true;
    ::testing::internal::CaptureStdout();
    DownloadFromMirrors(task);
    output_ = ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(recorder.Finals().size(), 1u);
    EXPECT_EQ(recorder.Finals().back().status, "succ") << output_;
    EXPECT_NE(output_.find("going on from " + server_.Url(kPath) + " after " + std::to_string(cut) + " bytes"),
              std::string::npos)
        << output_;
    EXPECT_EQ(output_.find("hashing the"), std::string::npos) << output_;
    ExpectDigestsOfTheFile();
  }
}

// A run that ends with the connection cut, and a later run (a new digest) resuming the file.
TEST_F(CutDigestTest, LaterRunResumingACutDownloadHasTheRightDigest) {
  for (const std::uint64_t cut : {std::uint64_t{4096}, std::uint64_t{kArchiveSize / 2}}) {
    SCOPED_TRACE("cut after " + std::to_string(cut));
    std::filesystem::remove(local_);
    server_.SetFault("cut/pkg.zip", Fault::CloseAfter(cut));
    EXPECT_EQ(Download(server_.Url("cut/pkg.zip"), 0).status, "fail") << output_;
    EXPECT_FALSE(DigestMemo::Find(local_).has_value());  // a failed download leaves no digest to trust
    const std::uint64_t kept = std::filesystem::file_size(local_);
    ASSERT_EQ(kept, cut);
    EXPECT_EQ(Download(server_.Url(kPath), kept).status, "succ") << output_;
    ExpectDigestsOfTheFile();
  }
}

}  // namespace

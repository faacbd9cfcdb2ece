// The launcher against a hostile or broken content server: wrong lengths, endless and huge
// bodies, redirects in a loop or to another loopback host, archive and entry names that try to
// leave the working folder, deeply nested documents. Each time the launcher must show its
// Retry/Cancel box (answered Cancel here, or Retry where the scenario heals), end in order,
// start no game from what it refused, and write nothing outside its working folder.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "app/settings.h"
#include "app/texts.h"
#include "platform/text_encoding.h"
#include "tests/chaos/hostile_fixture.h"
#include "tests/chaos/tree_check.h"
#include "tests/package/zip_builder.h"
#include "tools/publish/md5_digest.h"

namespace chaos {
namespace {

using testsupport::Fault;

std::string Utf8(const char* gbk) { return platform::GbkToUtf8(gbk); }

bool AnyPromptContains(const Outcome& outcome, const std::string& text) {
  for (const auto& prompt : outcome.prompts) {
    if (prompt.text.find(text) != std::string::npos) return true;
  }
  return false;
}

std::string FileInfoJson(const std::string& zipName, const std::string& md5, std::uint64_t bytes) {
  return R"({"zipName":")" + zipName + R"(","zipMd5":")" + md5 + R"(","zipBytes":)" + std::to_string(bytes) +
         R"(,"fileNameList":["kolv.exe"]})";
}

class HostileServerTest : public LauncherSandbox {
 protected:
  void SetUp() override {
    LauncherSandbox::SetUp();
    release_ = PublishAndServe("1.0.1", 7);
  }
  std::filesystem::path ArchiveOnDisk() const { return Work() / release_.zipName; }
  std::string ConfigPath() const { return settings::channelId + "/config.json"; }
  std::string FileInfoPath() const { return settings::channelId + "/fileInfo_1_0_1.json"; }

  // The release installs afterwards, from a healthy server: the refusal left nothing behind
  // that stops the next run.
  void ExpectHealthyRunInstalls() {
    for (const auto& path : {ConfigPath(), FileInfoPath(), release_.zipName}) Server().ClearFault(path);
    Server().RemoveFile(ConfigPath());
    Server().RemoveFile(FileInfoPath());
    const Outcome healthy = RunLauncher({});
    ExpectOrderlyEnd(healthy);
    EXPECT_EQ(healthy.gameStarts, std::vector<std::string>{"ok 1.0.1"}) << healthy.errors;
    EXPECT_EQ(TreeDifferences(release_.buildFolder, Data()), std::vector<std::string>{});
  }

  Release release_;
};

TEST_F(HostileServerTest, ArchiveCutShortOnEveryAttemptIsRefusedWithRetryBoxesAndResumesLater) {
  Server().SetFault(release_.zipName, Fault::CloseAfter(release_.zipBytes / 5));
  const Outcome outcome = RunLauncher({"r", "r"});
  ExpectOrderlyEnd(outcome);
  ExpectRetryBoxes(outcome, 3);
  EXPECT_TRUE(outcome.gameStarts.empty());
  EXPECT_TRUE(AnyPromptContains(outcome, Utf8(texts::kClickToRetry)));
  // Each attempt resumed where the previous one was cut.
  const auto log = Server().LogFor(release_.zipName);
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[1].range, "bytes=" + std::to_string(release_.zipBytes / 5) + "-");
  ExpectNothingWrittenOutside();
  ExpectHealthyRunInstalls();
}

TEST_F(HostileServerTest, ArchiveLongerThanAnnouncedIsCutAtTheAnnouncedSize) {
  std::string longer;
  {
    std::ifstream in(release_.serverFolder / release_.zipName, std::ios::binary);
    longer.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  longer += std::string(4096, 'x');
  Server().AddFile(release_.zipName, longer);
  const Outcome outcome = RunLauncher({});
  ExpectOrderlyEnd(outcome);
  // The body is cut at the announced size; what was kept is at most the announced size.
  EXPECT_TRUE(AnyPromptContains(outcome, Utf8(texts::kClickToRetry))) << outcome.errors.substr(0, 2000);
  EXPECT_TRUE(outcome.gameStarts.empty());
  std::error_code error;
  EXPECT_LE(std::filesystem::file_size(ArchiveOnDisk(), error), release_.zipBytes);
  ExpectNothingWrittenOutside();
  Server().RemoveFile(release_.zipName);
  ExpectHealthyRunInstalls();
}

TEST_F(HostileServerTest, ServerIgnoringTheRangeOfAResumeInstallsWithoutASecondDownload) {
  Server().SetFault(release_.zipName, Fault::CloseAfter(release_.zipBytes / 2));
  const Outcome cut = RunLauncher({"c"});
  ExpectRetryBoxes(cut, 1);
  // The resume asks for a range; this server answers 200 with everything, which is written from
  // the start of the file: the archive arrives whole from this one answer.
  Server().SetFault(release_.zipName, Fault::IgnoreRange());
  Server().ResetCounters();
  const Outcome outcome = RunLauncher({});
  ExpectOrderlyEnd(outcome);
  EXPECT_FALSE(AnyPromptContains(outcome, Utf8(texts::kDigestMismatch))) << outcome.errors;
  EXPECT_EQ(outcome.gameStarts, std::vector<std::string>{"ok 1.0.1"});
  EXPECT_EQ(Server().RequestCount(release_.zipName), 1);
  EXPECT_EQ(Server().WaitForBytesSent(release_.zipName, release_.zipBytes), release_.zipBytes);
  EXPECT_EQ(TreeDifferences(release_.buildFolder, Data()), std::vector<std::string>{});
  ExpectNothingWrittenOutside();
}

TEST_F(HostileServerTest, EndlessArchiveBodyIsRefusedWithinBoundedDiskAndMemory) {
  Server().SetFault(release_.zipName, Fault::Endless());
  const Outcome outcome =
      RunLauncher({}, BoundedGrowth(ArchiveOnDisk(), 4 * release_.zipBytes, 512ull * 1024 * 1024), 30000);
  ExpectOrderlyEnd(outcome);
  ExpectRetryBoxes(outcome);
  EXPECT_TRUE(outcome.gameStarts.empty());
  ExpectNothingWrittenOutside();
}

TEST_F(HostileServerTest, EndlessConfigurationBodyIsRefusedWithinBoundedMemory) {
  Server().SetFault(ConfigPath(), Fault::Endless());
  const Outcome outcome = RunLauncher({}, BoundedGrowth(ArchiveOnDisk(), 0, 512ull * 1024 * 1024), 40000);
  ExpectOrderlyEnd(outcome);
  EXPECT_TRUE(AnyPromptContains(outcome, Utf8(texts::kRequestTimeoutText))) << outcome.errors.substr(0, 2000);
  EXPECT_TRUE(outcome.gameStarts.empty());
  ExpectNothingWrittenOutside();
}

TEST_F(HostileServerTest, HugeFileInformationDocumentIsRefused) {
  // Valid JSON, 64 MiB of it: no package's file information comes near that.
  std::string huge = R"({"zipName":"x_1_0_1.zip","pad":")" + std::string(64u << 20, 'a') + R"("})";
  Server().AddFile(FileInfoPath(), std::move(huge));
  const Outcome outcome = RunLauncher({}, BoundedGrowth(ArchiveOnDisk(), 0, 1024ull * 1024 * 1024), 40000);
  ExpectOrderlyEnd(outcome);
  ExpectRetryBoxes(outcome);
  EXPECT_TRUE(outcome.gameStarts.empty());
  ExpectNothingWrittenOutside();
}

TEST_F(HostileServerTest, RedirectLoopsEndInRetryBoxes) {
  Server().SetFault(release_.zipName, Fault::Redirect(release_.zipName));
  const Outcome outcome = RunLauncher({});
  ExpectOrderlyEnd(outcome);
  EXPECT_TRUE(AnyPromptContains(outcome, Utf8(texts::kClickToRetry))) << outcome.errors.substr(0, 2000);
  EXPECT_TRUE(outcome.gameStarts.empty());
  ExpectNothingWrittenOutside();
}

TEST_F(HostileServerTest, RedirectToAnotherLoopbackHostWithAForeignArchiveIsCaughtByTheDigest) {
  testsupport::ContentServer other("127.0.0.2", 0);
  other.AddFile(release_.zipName, std::string(static_cast<std::size_t>(release_.zipBytes), 'z'));
  Server().SetFault(release_.zipName, Fault::Redirect(other.Url(release_.zipName)));
  const Outcome outcome = RunLauncher({});
  ExpectOrderlyEnd(outcome);
  EXPECT_EQ(other.RequestCount(release_.zipName), 1);
  EXPECT_TRUE(AnyPromptContains(outcome, Utf8(texts::kDigestMismatch))) << outcome.errors.substr(0, 2000);
  EXPECT_TRUE(outcome.gameStarts.empty());
  EXPECT_FALSE(std::filesystem::exists(ArchiveOnDisk()));
  ExpectNothingWrittenOutside();
}

TEST_F(HostileServerTest, RedirectToALocalFileIsNotFollowed) {
  const auto secret = Root() / "launcher-escape-secret.zip";
  std::ofstream(secret) << "local file";
  Server().SetFault(release_.zipName, Fault::Redirect("file://" + secret.string()));
  const Outcome outcome = RunLauncher({});
  ExpectOrderlyEnd(outcome);
  ExpectRetryBoxes(outcome);
  EXPECT_TRUE(outcome.gameStarts.empty());
  std::error_code error;
  EXPECT_NE(std::filesystem::file_size(ArchiveOnDisk(), error), std::filesystem::file_size(secret));
}

TEST_F(HostileServerTest, ArchiveNamesLeavingTheWorkingFolderAreRefusedByTheCheck) {
  for (const std::string name : {"../launcher-escape_1_0_1.zip", "/tmp/launcher-escape_1_0_1.zip",
                                 "MorvanePC1/../../launcher-escape_1_0_1.zip"}) {
    SCOPED_TRACE(name);
    Server().AddFile(FileInfoPath(), FileInfoJson(name, release_.zipMd5, release_.zipBytes));
    Server().AddFile(name, "never fetched");
    const Outcome outcome = RunLauncher({});
    ExpectOrderlyEnd(outcome);
    EXPECT_TRUE(AnyPromptContains(outcome, Utf8(texts::kCheckFileError))) << outcome.errors.substr(0, 2000);
    EXPECT_TRUE(AnyPromptContains(outcome, Utf8(texts::kCaptionError)));
    EXPECT_EQ(Server().RequestCount(name), 0);
    EXPECT_TRUE(outcome.gameStarts.empty());
    ExpectNothingWrittenOutside();
  }
}

TEST_F(HostileServerTest, EntryNamesLeavingTheDataFolderAreRefusedByTheExtraction) {
  const auto evil = Root() / "releases" / "evil.zip";
  {
    ZipBuilder zip(evil);
    zip.Add(settings::gameExeName, "#!/bin/sh\necho hostile\n", EntryOptions::Unix(0100755));
    zip.Add("../../launcher-escape-dotdot.txt", "outside");
    zip.Add("/tmp/launcher-escape-absolute.txt", "outside");
    zip.Close();
  }
  std::string bytes;
  {
    std::ifstream in(evil, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  NoteOwnFiles();
  const std::string zipName = settings::channelId + "/evil_1_0_1.zip";
  Server().AddFile(zipName, bytes);
  Server().AddFile(FileInfoPath(), FileInfoJson(zipName, publish::Md5OfFile(evil), bytes.size()));
  const Outcome outcome = RunLauncher({});
  ExpectOrderlyEnd(outcome);
  EXPECT_TRUE(AnyPromptContains(outcome, Utf8(texts::kUnzipFailedHead))) << outcome.errors.substr(0, 2000);
  EXPECT_TRUE(outcome.gameStarts.empty());
  ExpectNothingWrittenOutside();
}

TEST_F(HostileServerTest, DeeplyNestedDocumentsDoNotCrashTheLauncher) {
  const std::string depth(1 << 20, '[');
  Server().AddFile(ConfigPath(), depth + std::string(1 << 20, ']'));
  const Outcome outcome = RunLauncher({});
  ExpectOrderlyEnd(outcome);
  EXPECT_TRUE(AnyPromptContains(outcome, Utf8(texts::kCaptionError))) << outcome.errors.substr(0, 2000);

  Server().RemoveFile(ConfigPath());
  Server().AddFile(FileInfoPath(),
                   R"({"zipName":"a_1_0_1.zip","fileNameList":)" + depth + std::string(1 << 20, ']') + "}");
  const Outcome nested = RunLauncher({});
  ExpectOrderlyEnd(nested);
  ExpectRetryBoxes(nested);
  EXPECT_TRUE(nested.gameStarts.empty());
  ExpectNothingWrittenOutside();
}

}  // namespace
}  // namespace chaos

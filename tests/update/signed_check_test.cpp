// The update check with a release key against the content server on 127.0.0.1: documents and
// their signatures through the failover, the local overrides, the signed cache, and a check
// without a key next to signed documents.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/settings.h"
#include "app/status_words.h"
#include "app/texts.h"
#include "check_fixture.h"
#include "content_server.h"
#include "package/file_util.h"
#include "release_signer.h"

namespace updatetest {
namespace {

using testsupport::ContentServer;
using namespace std::chrono_literals;

const char* const kSha = "a948904f2f0f479b8f8197694b30184b0d2ed1c1cd2a1ec0fb85d299a192a447";
const char* const kMd5 = "0123456789abcdef0123456789abcdef";

std::string ConfigPath() { return settings::channelId + "/config.json"; }
std::string FileInfoPath() { return settings::channelId + "/fileInfo_1_2_3.json"; }
std::string CachePath() { return settings::dataFolder + "/fileInfo_1_2_3.json"; }
std::string SerialPath() { return settings::dataFolder + "/releaseSerial"; }

std::string ConfigText(int serial) {
  return "{\"lastVersion\":\"1.2.3\",\"channel\":\"MorvanePC1\",\"serial\":" + std::to_string(serial) + "}\n";
}
std::string FileInfoText(const std::string& version = "1.2.3", const std::string& channel = "MorvanePC1") {
  return "{\n  \"zipName\": \"MorvanePC1/res_1_2_3.zip\",\n  \"zipMd5\": \"" + std::string(kMd5) +
         "\",\n  \"zipBytes\": 4,\n  \"channel\": \"" + channel + "\",\n  \"version\": \"" + version +
         "\",\n  \"zipSha256\": \"" + kSha + "\"\n}\n";
}

class SignedCheckTest : public CheckTest {
 protected:
  std::unique_ptr<Check> MakeSignedCheck(std::string key = {}) {
    CheckOptions options;
    options.baseUrls = {server_.BaseUrl()};
    options.failover = FastFailover();
    options.splash = &splash_;
    options.releasePublicKey = key.empty() ? signer_.PublicKeyBase64() : key;
    options.serialStorePath = SerialPath();
    return std::make_unique<Check>(std::move(options));
  }
  void Serve(const std::string& path, const std::string& text, bool signature = true) {
    server_.AddFile(path, text);
    if (signature) server_.AddFile(path + ".sig", signer_.Sign(text));
  }
  void ServeRelease(int serial = 3) {
    Serve(ConfigPath(), ConfigText(serial));
    Serve(FileInfoPath(), FileInfoText());
  }
  Row RunCheck(Check& check) {
    auto recorder = std::make_shared<Recorder>();
    check.Start(RecordInto(recorder));
    EXPECT_TRUE(recorder->WaitFor(1, 10s));
    const std::vector<Row> rows = recorder->Rows();
    return rows.empty() ? Row{} : rows.front();
  }
  static void ExpectRefused(const Row& row, const std::string& reason) {
    EXPECT_EQ(status::kError, row.status);
    EXPECT_EQ(std::string(texts::kCheckFileError) + reason, row.first);
  }

  ReleaseSigner signer_;
  ContentServer server_;
};

TEST_F(SignedCheckTest, SignedReleaseIsEvaluatedAndCachedWithItsSignature) {
  ServeRelease(3);
  auto check = MakeSignedCheck();
  const Row row = RunCheck(*check);
  EXPECT_EQ(status::kNeedUpdate, row.status) << row.first;
  EXPECT_EQ("MorvanePC1/res_1_2_3.zip", row.first);
  EXPECT_EQ(kSha, check->ArchiveSha256());
  EXPECT_EQ("3\n", FileUtil::ReadBytes(SerialPath()));
  // Each signature is asked for with its own cache buster, like the document.
  for (const std::string& path : {ConfigPath() + ".sig", FileInfoPath() + ".sig"}) {
    const auto log = server_.LogFor(path);
    ASSERT_EQ(1u, log.size()) << path;
    EXPECT_EQ(0u, log[0].query.rfind("rand=", 0));
  }

  check->SaveLastFileInfo();
  EXPECT_EQ(FileInfoText(), FileUtil::ReadBytes(CachePath()));
  EXPECT_EQ(signer_.Sign(FileInfoText()), FileUtil::ReadBytes(CachePath() + ".sig"));
}

TEST_F(SignedCheckTest, EachAttackOnTheServedDocumentsIsRefusedByName) {
  struct Attack {
    const char* what;
    std::function<void()> serve;
    std::string reason;
  };
  const std::vector<Attack> attacks = {
      {"tampered file information",
       [this] {
         Serve(ConfigPath(), ConfigText(3));
         server_.AddFile(FileInfoPath(), FileInfoText() + " ");
         server_.AddFile(FileInfoPath() + ".sig", signer_.Sign(FileInfoText()));
       },
       "signature of MorvanePC1/fileInfo_1_2_3.json does not match the release key"},
      {"another version's file information under this name",
       [this] {
         Serve(ConfigPath(), ConfigText(3));
         Serve(FileInfoPath(), FileInfoText("1.2.2"));
       },
       "MorvanePC1/fileInfo_1_2_3.json is the file information of version 1.2.2, not of 1.2.3"},
      {"another channel's file information",
       [this] {
         Serve(ConfigPath(), ConfigText(3));
         Serve(FileInfoPath(), FileInfoText("1.2.3", "MorvanePC2"));
       },
       "MorvanePC1/fileInfo_1_2_3.json is for channel \"MorvanePC2\", not for \"MorvanePC1\""},
      {"stripped configuration signature",
       [this] {
         Serve(ConfigPath(), ConfigText(3), false);
         Serve(FileInfoPath(), FileInfoText());
       },
       "signature of MorvanePC1/config.json is missing"},
      {"replayed older configuration",
       [this] {
         Serve(ConfigPath(), ConfigText(2));
         Serve(FileInfoPath(), FileInfoText());
       },
       "serial 2 of MorvanePC1/config.json is lower than the highest accepted, 3"},
      {"unsigned server",
       [this] {
         server_.AddFile(ConfigPath(), R"({"lastVersion":"1.2.3"})");
         server_.AddFile(FileInfoPath(), FileInfoText());
       },
       "signature of MorvanePC1/config.json is missing"},
  };
  for (const Attack& attack : attacks) {
    SCOPED_TRACE(attack.what);
    FileUtil::WriteBytesAtomically(SerialPath(), "3\n");
    for (const std::string& path : {ConfigPath(), FileInfoPath()}) {
      server_.RemoveFile(path);
      server_.RemoveFile(path + ".sig");
    }
    attack.serve();
    auto check = MakeSignedCheck();
    ExpectRefused(RunCheck(*check), attack.reason);
    EXPECT_EQ("", check->PendingFileInfo().first);
    EXPECT_EQ("3\n", FileUtil::ReadBytes(SerialPath()));
  }
}

TEST_F(SignedCheckTest, CachedFileInformationIsUsedOnlyWhileItsSignatureHolds) {
  SetRecord("MorvanePC1/res_1_2_3.zip", kMd5);
  ServeRelease(3);
  WriteFile(CachePath(), FileInfoText());
  WriteFile(CachePath() + ".sig", signer_.Sign(FileInfoText()));
  {
    auto check = MakeSignedCheck();
    EXPECT_EQ(status::kNotNeedUpdate, RunCheck(*check).status);
    EXPECT_EQ(0, server_.RequestCount(FileInfoPath()));
    EXPECT_EQ(kSha, check->ArchiveSha256());
  }
  // A cache edited on disk, one without a signature, one of another version: the server is asked.
  const std::vector<std::pair<std::string, std::string>> damaged = {
      {FileInfoText() + "\n", signer_.Sign(FileInfoText())},
      {FileInfoText(), ""},
      {FileInfoText("1.2.2"), signer_.Sign(FileInfoText("1.2.2"))},
  };
  for (const auto& [text, signature] : damaged) {
    server_.ResetCounters();
    WriteFile(CachePath(), text);
    std::filesystem::remove(CachePath() + ".sig");
    if (!signature.empty()) WriteFile(CachePath() + ".sig", signature);
    auto check = MakeSignedCheck();
    testing::internal::CaptureStdout();
    const Row row = RunCheck(*check);
    std::fflush(stdout);
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(status::kNotNeedUpdate, row.status) << row.first;
    EXPECT_EQ(1, server_.RequestCount(FileInfoPath()));
    EXPECT_NE(std::string::npos, said.find("cached file information not used, the server is asked: ")) << said;
    check->SaveLastFileInfo();
    EXPECT_EQ(FileInfoText(), FileUtil::ReadBytes(CachePath()));
  }
}

TEST_F(SignedCheckTest, LocalOverridesNeedTheirSignatureBesideThem) {
  ServeRelease(3);
  WriteFile(settings::localConfigName, ConfigText(4));
  auto check = MakeSignedCheck();
  ExpectRefused(RunCheck(*check), "signature of local_config.json is missing");
  WriteFile(settings::localConfigName + ".sig", signer_.Sign(ConfigText(4)));
  EXPECT_EQ(status::kNeedUpdate, RunCheck(*check).status);
  EXPECT_EQ(0, server_.RequestCount(ConfigPath()));
  EXPECT_EQ("4\n", FileUtil::ReadBytes(SerialPath()));

  // The file information's override asks for no version, so any signed one of this channel serves.
  server_.ResetCounters();
  WriteFile(settings::localFileInfoName, FileInfoText("9.9.9"));
  WriteFile(settings::localFileInfoName + ".sig", signer_.Sign(FileInfoText("9.9.9")) + "x");
  ExpectRefused(RunCheck(*check), "signature of local_fileInfo.json is malformed");
  WriteFile(settings::localFileInfoName + ".sig", signer_.Sign(FileInfoText("9.9.9")));
  EXPECT_EQ(status::kNeedUpdate, RunCheck(*check).status);
  EXPECT_EQ(0, server_.RequestCount(FileInfoPath()));
}

TEST_F(SignedCheckTest, MalformedCompiledInKeyFailsEveryCheck) {
  ServeRelease(3);
  auto check = MakeSignedCheck("AAAA");
  ExpectRefused(RunCheck(*check), "the release key compiled into this launcher is not the base64 of 32 bytes");
  EXPECT_EQ(0, server_.RequestCount(ConfigPath()));
}

TEST_F(SignedCheckTest, LauncherWithoutKeyIgnoresSignaturesAndTheNewMembers) {
  // Wrong signatures, a lower serial, another channel and version: none of it is looked at.
  WriteFile(SerialPath(), "9\n");
  server_.AddFile(ConfigPath(), "{\"lastVersion\":\"1.2.3\",\"channel\":\"Other\",\"serial\":1,\"expires\":1}");
  server_.AddFile(ConfigPath() + ".sig", "garbage");
  server_.AddFile(FileInfoPath(), FileInfoText("0.0.1", "Other"));
  server_.AddFile(FileInfoPath() + ".sig", "garbage");
  auto check = MakeCheck({server_.BaseUrl()});
  const Row row = RunCheck(*check);
  EXPECT_EQ(status::kNeedUpdate, row.status) << row.first;
  EXPECT_EQ(kMd5, row.second);
  EXPECT_EQ("", check->ArchiveSha256());
  EXPECT_EQ(0, server_.RequestCount(ConfigPath() + ".sig"));
  EXPECT_EQ(0, server_.RequestCount(FileInfoPath() + ".sig"));
  EXPECT_EQ("9\n", FileUtil::ReadBytes(SerialPath()));
  check->SaveLastFileInfo();
  EXPECT_FALSE(std::filesystem::exists(CachePath() + ".sig"));
}

}  // namespace
}  // namespace updatetest

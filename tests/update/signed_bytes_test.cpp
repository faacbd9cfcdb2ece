// Signed documents on disk keep their exact bytes on every system: Windows' text mode would turn
// CR LF into LF when reading and LF into CR LF when writing, and either breaks a signature.
// Runs on Linux and, built for Windows, under Wine.
#include <gtest/gtest.h>

#include "app/settings.h"
#include "app/status_words.h"
#include "app/texts.h"
#include "check_fixture.h"
#include "package/file_util.h"
#include "release_signer.h"

namespace updatetest {
namespace {

using namespace std::chrono_literals;

const char* const kSha = "a948904f2f0f479b8f8197694b30184b0d2ed1c1cd2a1ec0fb85d299a192a447";

class SignedBytesTest : public CheckTest {
 protected:
  Row RunSignedCheck() {
    CheckOptions options;
    options.failover = FastFailover();
    options.splash = &splash_;
    options.releasePublicKey = signer_.PublicKeyBase64();
    options.serialStorePath = settings::dataFolder + "/releaseSerial";
    Check check(std::move(options));
    auto recorder = std::make_shared<Recorder>();
    check.Start(RecordInto(recorder));
    EXPECT_TRUE(recorder->WaitFor(1, 10s));
    const std::vector<Row> rows = recorder->Rows();
    return rows.empty() ? Row{} : rows.front();
  }

  ReleaseSigner signer_;
};

TEST_F(SignedBytesTest, LocalFileInformationWithWindowsLineEndsIsCheckedAsItLiesOnDisk) {
  const std::string crlf =
      "{\"zipName\":\"MorvanePC1/res_1_2_3.zip\",\r\n\"channel\":\"MorvanePC1\",\r\n"
      "\"version\":\"1.2.3\",\"zipSha256\":\"" +
      std::string(kSha) + "\"}\r\n";
  WriteFile(settings::localFileInfoName, crlf);
  WriteFile(settings::localFileInfoName + ".sig", signer_.Sign(crlf));
  const Row row = RunSignedCheck();
  EXPECT_EQ(status::kNeedUpdate, row.status) << row.first;
  EXPECT_EQ("MorvanePC1/res_1_2_3.zip", row.first);

  // The same document with its line ends changed is another document.
  std::string lf = crlf;
  for (std::size_t at = lf.find("\r\n"); at != std::string::npos; at = lf.find("\r\n", at)) lf.erase(at, 1);
  WriteFile(settings::localFileInfoName, lf);
  const Row refused = RunSignedCheck();
  EXPECT_EQ(status::kError, refused.status);
  EXPECT_EQ(std::string(texts::kCheckFileError) + "signature of local_fileInfo.json does not match the release key",
            refused.first);
}

TEST_F(SignedBytesTest, ExactBytesWrittenAtomicallyReadBackUnchanged) {
  static const char kBytes[] = "line\nwindows line\r\nlone CR\rzero\0end";
  const std::string bytes(kBytes, sizeof kBytes - 1);
  ASSERT_TRUE(FileUtil::WriteBytesAtomically(settings::dataFolder + "/exact.json", bytes));
  EXPECT_EQ(bytes, FileUtil::ReadBytes(settings::dataFolder + "/exact.json"));
  EXPECT_FALSE(std::filesystem::exists(settings::dataFolder + "/exact.json.tmp"));
  // A second write replaces the file whole.
  ASSERT_TRUE(FileUtil::WriteBytesAtomically(settings::dataFolder + "/exact.json", "x"));
  EXPECT_EQ("x", FileUtil::ReadBytes(settings::dataFolder + "/exact.json"));
  EXPECT_EQ("", FileUtil::ReadBytes(settings::dataFolder + "/missing.json"));
}

}  // namespace
}  // namespace updatetest

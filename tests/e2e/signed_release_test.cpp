// The launcher built with the test release key, against the local content server: a signed
// release installs and starts the game; a document changed after signing installs nothing.
#include <sodium.h>

#include <array>
#include <fstream>

#include "tests/e2e/launcher_fixture.h"

namespace e2e {
namespace {

using Strings = std::vector<std::string>;

std::string Base64(const unsigned char* bytes, std::size_t length) {
  std::string text(sodium_base64_ENCODED_LEN(length, sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(text.data(), text.size(), bytes, length, sodium_base64_VARIANT_ORIGINAL);
  text.resize(text.size() - 1);
  return text;
}

class SignedReleaseTest : public LauncherFixture {
 protected:
  void SetUp() override {
    LauncherFixture::SetUp();
    ASSERT_GE(sodium_init(), 0);
    std::string text = ReadText(LAUNCHER_TEST_RELEASE_SECRET_KEY);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    std::size_t length = 0;
    ASSERT_EQ(0, sodium_base642bin(secret_.data(), secret_.size(), text.data(), text.size(), nullptr, &length, nullptr,
                                   sodium_base64_VARIANT_ORIGINAL));
    ASSERT_EQ(secret_.size(), length);
  }

  std::string Sign(const std::string& bytes) const {
    std::array<unsigned char, crypto_sign_BYTES> signature{};
    crypto_sign_detached(signature.data(), nullptr, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                         secret_.data());
    return Base64(signature.data(), signature.size()) + "\n";
  }

  static std::string Sha256Of(const fs::path& file) {
    const std::string bytes = ReadText(file);
    std::array<unsigned char, crypto_hash_sha256_BYTES> digest{};
    crypto_hash_sha256(digest.data(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    std::array<char, crypto_hash_sha256_BYTES * 2 + 1> hex{};
    sodium_bin2hex(hex.data(), hex.size(), digest.data(), digest.size());
    return hex.data();
  }

  // The members a signed release adds, put first into the published document.
  static std::string WithMembers(const std::string& document, const std::string& members) {
    const std::size_t brace = document.find('{');
    return document.substr(0, brace + 1) + members + "," + document.substr(brace + 1);
  }

  // Publishes `version` and signs its documents as the studio would, with `serial`.
  void PublishSigned(const std::string& version, int serial) {
    Publish(version);
    std::string underscored = version;
    for (char& c : underscored) c = c == '.' ? '_' : c;
    const fs::path config = ContentChannel() / "config.json";
    const fs::path fileInfo = ContentChannel() / ("fileInfo_" + underscored + ".json");
    WriteText(config, WithMembers(ReadText(config), "\"channel\":\"MorvanePC1\",\"serial\":" + std::to_string(serial)));
    WriteText(fileInfo, WithMembers(ReadText(fileInfo),
                                    "\"channel\":\"MorvanePC1\",\"version\":\"" + version + "\",\"zipSha256\":\"" +
                                        Sha256Of(ContentChannel() / ("res_" + underscored + ".zip")) + "\""));
    for (const fs::path& document : {config, fileInfo}) {
      WriteText(fs::path(document.string() + ".sig"), Sign(ReadText(document)));
    }
  }

  std::array<unsigned char, crypto_sign_SECRETKEYBYTES> secret_{};
};

TEST_F(SignedReleaseTest, SignedReleaseInstallsAndStartsTheGame) {
  PublishSigned("1.0.0", 1);
  StartServer();

  const LauncherRun run = RunLauncher({"signed"});

  ASSERT_EQ(run.exitCode, 0) << run.output;
  ASSERT_EQ(GameRuns(1).size(), 1u) << run.output;
  EXPECT_EQ(ReadText(DataFolder() / "version.txt"), "1.0.0");
  EXPECT_EQ(LogFor("/MorvanePC1/config.json.sig").size(), 1u);
  EXPECT_EQ(LogFor("/MorvanePC1/fileInfo_1_0_0.json.sig").size(), 1u);
  EXPECT_EQ(ReadText(DataFolder() / "releaseSerial"), "1\n");
  // The file information is cached with its signature, byte for byte as served.
  EXPECT_EQ(ReadText(DataFolder() / "fileInfo_1_0_0.json"), ReadText(ContentChannel() / "fileInfo_1_0_0.json"));
  EXPECT_EQ(ReadText(DataFolder() / "fileInfo_1_0_0.json.sig"), ReadText(ContentChannel() / "fileInfo_1_0_0.json.sig"));

  // The next run starts the game from the signed cache without asking for the file information.
  ClearLog();
  const LauncherRun again = RunLauncher({"again"});
  ASSERT_EQ(again.exitCode, 0) << again.output;
  EXPECT_EQ(GameRuns(2).size(), 2u) << again.output;
  EXPECT_EQ(LogFor("/MorvanePC1/fileInfo_1_0_0.json"), Strings{});
}

TEST_F(SignedReleaseTest, FileInformationChangedAfterSigningInstallsNothing) {
  PublishSigned("1.0.0", 1);
  const fs::path info = ContentChannel() / "fileInfo_1_0_0.json";
  std::string text = ReadText(info);
  const std::size_t md5 = text.find("\"zipMd5\": \"") + 11;
  ASSERT_NE(md5, std::string::npos + 11) << text;
  text.replace(md5, 32, std::string(32, '0'));
  WriteText(info, text);
  StartServer();

  const LauncherRun run = RunLauncher({}, "c\n");

  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("signature of MorvanePC1/fileInfo_1_0_0.json does not match the release key"),
            std::string::npos)
      << run.output;
  EXPECT_EQ(LogFor("/MorvanePC1/res_1_0_0.zip"), Strings{}) << "nothing is downloaded";
  EXPECT_FALSE(fs::exists(DataFolder() / "version.txt"));
  EXPECT_FALSE(fs::exists(DataFolder() / kGameExe));
  EXPECT_TRUE(GameRuns(0).empty());
}

}  // namespace
}  // namespace e2e

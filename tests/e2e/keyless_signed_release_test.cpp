// A launcher built without a release key reads a signed channel as it reads any other: old and
// new launchers share one server. The release is signed by launcher-publish with a key made here.
#include <sodium.h>
#include <sys/stat.h>

#include <array>
#include <sstream>

#include "tests/e2e/launcher_fixture.h"
#include "tools/publish/publisher.h"

namespace e2e {
namespace {

class KeylessLauncherTest : public LauncherFixture {
 protected:
  // A secret-key file in the studio's format: base64 of libsodium's 64-byte key, one line, 0600.
  fs::path MakeSecretKey() {
    EXPECT_GE(sodium_init(), 0);
    std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> publicKey{};
    std::array<unsigned char, crypto_sign_SECRETKEYBYTES> secretKey{};
    crypto_sign_keypair(publicKey.data(), secretKey.data());
    std::string text(sodium_base64_ENCODED_LEN(secretKey.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), secretKey.data(), secretKey.size(), sodium_base64_VARIANT_ORIGINAL);
    text.resize(text.size() - 1);
    const fs::path key = root_ / "release.key";
    WriteText(key, text + "\n");
    chmod(key.c_str(), 0600);
    return key;
  }

  void PublishSigned(const std::string& version, const fs::path& key) {
    publish::PublishOptions options;
    options.channelId = kChannel;
    options.version = version;
    options.buildFolder = MakeGameBuild(version);
    options.outputFolder = content_;
    options.signKey = key;
    std::ostringstream progress;
    publish::Publish(options, progress);
  }
};

TEST_F(KeylessLauncherTest, SignedChannelInstallsWithoutAskingForSignatures) {
  PublishSigned("1.0.0", MakeSecretKey());
  ASSERT_TRUE(fs::exists(ContentChannel() / "config.json.sig"));
  ASSERT_NE(ReadText(ContentChannel() / "fileInfo_1_0_0.json").find("\"zipSha256\""), std::string::npos);
  StartServer();

  const LauncherRun run = RunLauncher({"keyless"});

  ASSERT_EQ(run.exitCode, 0) << run.output;
  ASSERT_EQ(GameRuns(1).size(), 1u) << run.output;
  EXPECT_EQ(ReadText(DataFolder() / "version.txt"), "1.0.0");
  const std::vector<std::string> requests = LogFor("/MorvanePC1/");
  ASSERT_GE(requests.size(), 3u);  // the two documents and the archive
  for (const std::string& line : requests) {
    EXPECT_EQ(line.find(".sig"), std::string::npos) << line;
  }
  EXPECT_FALSE(fs::exists(DataFolder() / "releaseSerial"));
  EXPECT_FALSE(fs::exists(DataFolder() / "fileInfo_1_0_0.json.sig"));
}

}  // namespace
}  // namespace e2e

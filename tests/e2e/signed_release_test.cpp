// The launcher built with the test release key, against the local content server and releases
// that launcher-publish signed: a signed release installs, starts the game and updates; a
// document changed after signing installs nothing.
#include <sstream>

#include "tests/e2e/launcher_fixture.h"
#include "tools/publish/publisher.h"

namespace e2e {
namespace {

using Strings = std::vector<std::string>;

class SignedReleaseTest : public LauncherFixture {
 protected:
  // Publishes `version` signed with the test build's release key, as a studio does.
  void PublishSigned(const std::string& version, const std::vector<std::string>& unsupported = {}) {
    publish::PublishOptions options;
    options.channelId = kChannel;
    options.version = version;
    options.buildFolder = MakeGameBuild(version);
    options.outputFolder = content_;
    options.signKey = fs::path(LAUNCHER_TEST_RELEASE_SECRET_KEY);
    if (!unsupported.empty()) options.unsupportedVersions = unsupported;
    std::ostringstream progress;
    publish::Publish(options, progress);
  }
};

TEST_F(SignedReleaseTest, SignedReleaseInstallsAndStartsTheGame) {
  PublishSigned("1.0.0");
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

  // The next release, its serial raised by the publisher: the update installs it.
  PublishSigned("1.0.1", {"1.0.0"});
  ClearLog();
  const LauncherRun update = RunLauncher({"updated"});
  ASSERT_EQ(update.exitCode, 0) << update.output;
  EXPECT_EQ(GameRuns(3).size(), 3u) << update.output;
  EXPECT_EQ(ReadText(DataFolder() / "version.txt"), "1.0.1");
  EXPECT_EQ(ReadText(DataFolder() / "releaseSerial"), "2\n");
  EXPECT_EQ(LogFor("/MorvanePC1/fileInfo_1_0_1.json.sig").size(), 1u);
}

TEST_F(SignedReleaseTest, FileInformationChangedAfterSigningInstallsNothing) {
  PublishSigned("1.0.0");
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

// Attacks on a signed release end to end: the real launcher built with the tests' release key,
// against the local content server, over an installed signed release. Each attack on the
// server's content is refused with a message that names it, and leaves the installed game as it
// was and not started.
#include <cstdio>
#include <memory>
#include <sstream>

#include "tests/e2e/launcher_fixture.h"
#include "tools/publish/publisher.h"
#include "tools/publish/release_signature.h"

namespace e2e {
namespace {

using Strings = std::vector<std::string>;

constexpr const char* kArchive101 = "/MorvanePC1/res_1_0_1.zip";

// The MD5 collision pair of Wang and Yu (2004) for MD5's standard initial value: two 128-byte
// blocks that differ in six bytes and have one MD5. In front of one and the same archive they
// give two archives with equal MD5 (everything after them is identical) and different SHA-256.
constexpr const char* kCollisionA =
    "d131dd02c5e6eec4693d9a0698aff95c2fcab58712467eab4004583eb8fb7f8955ad340609f4b30283e488832571415a085125e8f7cdc99f"
    "d91dbdf280373c5bd8823e3156348f5bae6dacd436c919c6dd53e2b487da03fd02396306d248cda0e99f33420f577ee8ce54b67080a80d1e"
    "c69821bcb6a8839396f9652b6ff72a70";
constexpr const char* kCollisionB =
    "d131dd02c5e6eec4693d9a0698aff95c2fcab50712467eab4004583eb8fb7f8955ad340609f4b30283e4888325f1415a085125e8f7cdc99f"
    "d91dbd7280373c5bd8823e3156348f5bae6dacd436c919c6dd53e23487da03fd02396306d248cda0e99f33420f577ee8ce54b67080280d1e"
    "c69821bcb6a8839396f965ab6ff72a70";

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

// The first word a digest tool prints for `file`.
std::string ToolDigest(const std::string& tool, const fs::path& file) {
  const std::string command = tool + " '" + file.string() + "'";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return "";
  char line[256] = {};
  if (std::fgets(line, sizeof line, pipe.get()) == nullptr) return "";
  const std::string text = line;
  return text.substr(0, text.find(' '));
}

class ReleaseAttackTest : public LauncherFixture {
 protected:
  void SetUp() override {
    LauncherFixture::SetUp();
    signKey_ = fs::path(LAUNCHER_TEST_RELEASE_SECRET_KEY);
  }

  // A first run that installs the signed 1.0.0; the state every attack starts from.
  void InstallFirstVersion() {
    Publish("1.0.0");
    StartServer();
    const LauncherRun run = RunLauncher({"first"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    ASSERT_EQ(GameRuns(1).size(), 1u) << run.output;
    ASSERT_EQ(ReadText(DataFolder() / "version.txt"), "1.0.0") << run.output;
    ClearLog();
  }

  // Runs the launcher, answers its box with Cancel, and checks the run was refused with
  // `message` and the installed 1.0.0 is untouched and not started.
  LauncherRun ExpectRefused(const std::string& message) {
    const LauncherRun run = RunLauncher({"attacked"}, "c\n");
    EXPECT_TRUE(run.exitCode.has_value()) << run.output;
    EXPECT_NE(run.output.find(message), std::string::npos) << "expected: " << message << "\n" << run.output;
    EXPECT_EQ(ReadText(DataFolder() / "version.txt"), "1.0.0");
    EXPECT_EQ(GameRuns(1).size(), 1u) << "the refused run must not start the game";
    return run;
  }

  // The channel's documents re-signed by the studio after an edit: valid releases, for attacks
  // that replay or move them.
  void SignAs(const fs::path& document, const std::string& text) {
    WriteText(document, text);
    WriteText(document.string() + ".sig", publish::SigningKey::ReadFile(*signKey_).SignatureFileText(text));
  }
};

TEST_F(ReleaseAttackTest, ValidFileInformationOfAnotherVersionUnderThisVersionsName) {
  InstallFirstVersion();
  Publish("1.0.1", {"1.0.x"});
  Publish("1.0.2", {"1.0.x"});
  // 1.0.1 (say, with a known flaw) served as the 1.0.2 the configuration names.
  for (const char* suffix : {"", ".sig"}) {
    fs::copy_file(ContentChannel() / (std::string("fileInfo_1_0_1.json") + suffix),
                  ContentChannel() / (std::string("fileInfo_1_0_2.json") + suffix),
                  fs::copy_options::overwrite_existing);
  }

  ExpectRefused("MorvanePC1/fileInfo_1_0_2.json is the file information of version 1.0.1, not of 1.0.2");
  EXPECT_TRUE(LogFor("/MorvanePC1/res_").empty());
}

TEST_F(ReleaseAttackTest, ValidFileInformationOfAnotherChannel) {
  InstallFirstVersion();
  Publish("1.0.1", {"1.0.x"});
  publish::PublishOptions other;
  other.channelId = "OtherPC";
  other.version = "1.0.1";
  other.buildFolder = MakeGameBuild("other");
  other.outputFolder = content_;
  other.signKey = signKey_;
  std::ostringstream log;
  publish::Publish(other, log);
  for (const char* suffix : {"", ".sig"}) {
    fs::copy_file(content_ / "OtherPC" / (std::string("fileInfo_1_0_1.json") + suffix),
                  ContentChannel() / (std::string("fileInfo_1_0_1.json") + suffix),
                  fs::copy_options::overwrite_existing);
  }

  ExpectRefused("MorvanePC1/fileInfo_1_0_1.json is for channel \"OtherPC\", not for \"MorvanePC1\"");
  EXPECT_TRUE(LogFor("/OtherPC/").empty());
}

TEST_F(ReleaseAttackTest, ReplayedOlderConfigurationIsRefused) {
  InstallFirstVersion();  // serial 1 accepted
  const std::string oldConfig = ReadText(ContentChannel() / "config.json");
  const std::string oldSignature = ReadText(ContentChannel() / "config.json.sig");
  Publish("1.0.1");  // serial 2, 1.0.0 still supported
  const LauncherRun accepted = RunLauncher({"second"});
  ASSERT_EQ(accepted.exitCode, 0) << accepted.output;
  ASSERT_EQ(GameRuns(2).size(), 2u) << accepted.output;
  // The studio withdraws 1.0.0 (serial 3); the attacker keeps serving the configuration of
  // serial 1, validly signed, that names 1.0.0 as the release.
  Publish("1.0.1", {"1.0.0"});
  const LauncherRun updated = RunLauncher({"third"});
  ASSERT_EQ(updated.exitCode, 0) << updated.output;
  ASSERT_EQ(ReadText(DataFolder() / "version.txt"), "1.0.1");
  ASSERT_EQ(GameRuns(3).size(), 3u) << updated.output;
  WriteText(ContentChannel() / "config.json", oldConfig);
  WriteText(ContentChannel() / "config.json.sig", oldSignature);
  ClearLog();

  const LauncherRun run = RunLauncher({"replayed"}, "c\n");
  EXPECT_NE(run.output.find("serial 1 of MorvanePC1/config.json"), std::string::npos) << run.output;
  EXPECT_EQ(ReadText(DataFolder() / "version.txt"), "1.0.1");
  EXPECT_EQ(GameRuns(3).size(), 3u) << run.output;
  EXPECT_TRUE(LogFor("/MorvanePC1/fileInfo_").empty());
}

TEST_F(ReleaseAttackTest, StrippedSignaturesAreRefused) {
  InstallFirstVersion();
  Publish("1.0.1", {"1.0.x"});
  fs::remove(ContentChannel() / "config.json.sig");
  ExpectRefused("signature of MorvanePC1/config.json is missing");

  // The configuration still signed, the file information not.
  Publish("1.0.1", {"1.0.x"});
  fs::remove(ContentChannel() / "fileInfo_1_0_1.json.sig");
  ClearLog();
  ExpectRefused("signature of MorvanePC1/fileInfo_1_0_1.json is missing");
  EXPECT_TRUE(LogFor(kArchive101).empty());
}

TEST_F(ReleaseAttackTest, ArchiveWithTheSameMd5ButAnotherSha256IsNotUnpacked) {
  InstallFirstVersion();
  Publish("1.0.1", {"1.0.x"});
  // The studio's archive begins with one block of the pair, the attacker's with the other.
  const fs::path archive = ContentChannel() / "res_1_0_1.zip";
  const std::string zip = ReadText(archive);
  const fs::path honest = root_ / "honest.zip";
  const fs::path planted = root_ / "planted.zip";
  WriteText(honest, FromHex(kCollisionA) + zip);
  WriteText(planted, FromHex(kCollisionB) + zip);
  ASSERT_NE(ReadText(honest), ReadText(planted));
  const std::string md5 = ToolDigest("md5sum", honest);
  const std::string honestSha = ToolDigest("sha256sum", honest);
  const std::string plantedSha = ToolDigest("sha256sum", planted);
  ASSERT_EQ(md5.size(), 32u);
  ASSERT_EQ(ToolDigest("md5sum", planted), md5) << "the two archives must really collide";
  ASSERT_NE(plantedSha, honestSha);

  // The studio publishes the honest archive: its digests and size in the signed document.
  const fs::path info = ContentChannel() / "fileInfo_1_0_1.json";
  std::string text = ReadText(info);
  const auto replaceValue = [&](const std::string& key, const std::string& value) {
    const auto start = text.find("\"" + key + "\": ") + key.size() + 4;
    const auto end = text.find_first_of(",\n", start);
    text.replace(start, end - start, value);
  };
  replaceValue("zipMd5", "\"" + md5 + "\"");
  replaceValue("zipSha256", "\"" + honestSha + "\"");
  replaceValue("zipBytes", std::to_string(fs::file_size(honest)));
  SignAs(info, text);
  fs::copy_file(planted, archive, fs::copy_options::overwrite_existing);

  const LauncherRun refused = ExpectRefused(plantedSha);
  EXPECT_NE(refused.output.find("SHA-256"), std::string::npos) << refused.output;
  EXPECT_EQ(WholeArchiveLogFor(kArchive101).size(), 1u);
  EXPECT_FALSE(fs::exists(DownloadFolder() / "res_1_0_1.zip")) << "the planted archive is deleted";

  // The honest archive, same MD5, installs: only the SHA-256 told them apart.
  fs::copy_file(honest, archive, fs::copy_options::overwrite_existing);
  const LauncherRun run = RunLauncher({"honest"});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(ReadText(DataFolder() / "version.txt"), "1.0.1") << run.output;
}

TEST_F(ReleaseAttackTest, UnsignedServerIsRefusedOnFirstInstall) {
  signKey_.reset();
  Publish("1.0.0");
  StartServer();

  const LauncherRun run = RunLauncher({}, "c\n");

  EXPECT_NE(run.output.find("signature of MorvanePC1/config.json is missing"), std::string::npos) << run.output;
  EXPECT_FALSE(fs::exists(DataFolder() / kGameExe));
  EXPECT_TRUE(LogFor("/MorvanePC1/res_").empty());
  EXPECT_TRUE(LogFor("/MorvanePC1/fileInfo_").empty());
}

}  // namespace
}  // namespace e2e

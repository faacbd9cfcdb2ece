// Signed releases from the publisher: the release key's file, signatures over the documents'
// exact bytes (checked with libsodium directly), the identity keys, the serial and the expiry,
// and an unsigned release that stays exactly what older launchers read.
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <sodium.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/file_text.h"
#include "tools/publish/publish_error.h"
#include "tools/publish/publish_options.h"
#include "tools/publish/publisher.h"

namespace publish {
namespace {
namespace fs = std::filesystem;

using testsupport::ReadText;
using testsupport::WriteText;

int RunShell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

// First word of a tool's output, e.g. the digest sha256sum prints.
std::string FirstWordOf(const std::string& command, const fs::path& capture) {
  if (RunShell(command + " >" + Quoted(capture)) != 0) return "";
  const std::string text = ReadText(capture);
  return text.substr(0, text.find(' '));
}

std::string Decoded(const std::string& base64) {
  std::string bytes(base64.size(), '\0');
  std::size_t length = 0;
  if (sodium_base642bin(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size(), base64.data(), base64.size(),
                        "\n", &length, nullptr, sodium_base64_VARIANT_ORIGINAL) != 0) {
    return "";
  }
  bytes.resize(length);
  return bytes;
}

bool SignedBy(const std::string& document, const std::string& signatureFileText, const std::string& publicKey) {
  const std::string signature = Decoded(signatureFileText);
  if (signature.size() != crypto_sign_BYTES || publicKey.size() != crypto_sign_PUBLICKEYBYTES) return false;
  return crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature.data()),
                                     reinterpret_cast<const unsigned char*>(document.data()), document.size(),
                                     reinterpret_cast<const unsigned char*>(publicKey.data())) == 0;
}

std::string Compact(const rapidjson::Document& document) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  document.Accept(writer);
  return buffer.GetString();
}

std::vector<std::string> MemberNames(const rapidjson::Document& document) {
  std::vector<std::string> names;
  for (const auto& member : document.GetObject()) names.emplace_back(member.name.GetString());
  return names;
}

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

class ReleaseSigningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GE(sodium_init(), 0);
    root_ = fs::temp_directory_path() / ("release_signing_test_" + std::to_string(getpid()) + "_" +
                                         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    build_ = root_ / "build";
    out_ = root_ / "out";
    channel_ = out_ / "MorvanePC1";
    key_ = root_ / "release.key";
    WriteText(build_ / "kolv.exe", "#!/bin/sh\necho game\n");
    WriteText(build_ / "data" / "pak0.dat", std::string(300000, 'p'));
  }
  void TearDown() override { fs::remove_all(root_); }

  // Runs the tool; returns its exit code, its output in `output`.
  int Tool(const std::string& arguments, std::string* output = nullptr) {
    const fs::path capture = root_ / "tool-output.txt";
    const int code =
        RunShell(std::string("'") + LAUNCHER_PUBLISH_EXE + "' " + arguments + " >" + Quoted(capture) + " 2>&1");
    if (output) *output = ReadText(capture);
    return code;
  }

  // A new key; returns its public half as the raw 32 bytes, derived from the secret file.
  std::string MakeKey() {
    EXPECT_EQ(Tool("keygen " + Quoted(key_)), 0);
    const std::string secret = Decoded(ReadText(key_));
    EXPECT_EQ(secret.size(), static_cast<std::size_t>(crypto_sign_SECRETKEYBYTES));
    std::string publicKey(crypto_sign_PUBLICKEYBYTES, '\0');
    crypto_sign_ed25519_sk_to_pk(reinterpret_cast<unsigned char*>(publicKey.data()),
                                 reinterpret_cast<const unsigned char*>(secret.data()));
    return publicKey;
  }

  PublishOptions Options(const std::string& version, bool sign) {
    PublishOptions options;
    options.channelId = "MorvanePC1";
    options.version = version;
    options.buildFolder = build_;
    options.outputFolder = out_;
    if (sign) options.signKey = key_;
    return options;
  }

  std::string Publish(const PublishOptions& options) {
    std::ostringstream log;
    publish::Publish(options, log);
    return log.str();
  }

  rapidjson::Document Config() {
    rapidjson::Document document;
    document.Parse(ReadText(channel_ / "config.json").c_str());
    return document;
  }

  fs::path root_, build_, out_, channel_, key_;
};

TEST_F(ReleaseSigningTest, KeygenWritesAKeyOnlyItsOwnerReadsAndNeverOverwrites) {
  std::string output;
  // Even under a umask that would leave everything open, the key is the owner's alone.
  ASSERT_EQ(RunShell("umask 000; '" + std::string(LAUNCHER_PUBLISH_EXE) + "' keygen " +
                     Quoted(root_ / "open-umask.key") + " >/dev/null"),
            0);
  ASSERT_EQ(Tool("keygen " + Quoted(key_), &output), 0) << output;
  for (const fs::path& file : {key_, root_ / "open-umask.key"}) {
    struct stat status {};
    ASSERT_EQ(::stat(file.c_str(), &status), 0) << file;
    EXPECT_EQ(status.st_mode & 07777, 0600u) << file;
  }
  const std::string secret = ReadText(key_);
  std::string publicKey(crypto_sign_PUBLICKEYBYTES, '\0');
  ASSERT_EQ(Decoded(secret).size(), static_cast<std::size_t>(crypto_sign_SECRETKEYBYTES));
  crypto_sign_ed25519_sk_to_pk(reinterpret_cast<unsigned char*>(publicKey.data()),
                               reinterpret_cast<const unsigned char*>(Decoded(secret).data()));
  // What it prints is the public half of what it wrote, ready to paste into the build.
  char base64[sodium_base64_ENCODED_LEN(crypto_sign_PUBLICKEYBYTES, sodium_base64_VARIANT_ORIGINAL)];
  sodium_bin2base64(base64, sizeof base64, reinterpret_cast<const unsigned char*>(publicKey.data()), publicKey.size(),
                    sodium_base64_VARIANT_ORIGINAL);
  EXPECT_NE(output.find(std::string("-DLAUNCHER_RELEASE_PUBLIC_KEY=") + base64 + "\n"), std::string::npos) << output;
  EXPECT_NE(ReadText(root_ / "open-umask.key"), secret);

  EXPECT_EQ(Tool("keygen " + Quoted(key_), &output), 1);
  EXPECT_NE(output.find("already exists"), std::string::npos) << output;
  EXPECT_EQ(ReadText(key_), secret);
  // A link in the key's place is not followed, not even a dangling one.
  fs::create_symlink(root_ / "elsewhere.key", root_ / "link.key");
  EXPECT_EQ(Tool("keygen " + Quoted(root_ / "link.key")), 1);
  EXPECT_FALSE(fs::exists(root_ / "elsewhere.key"));
  EXPECT_EQ(Tool("keygen", &output), 2);
}

TEST_F(ReleaseSigningTest, SignaturesHoldOverTheExactBytesWrittenAndOnlyThose) {
  const std::string publicKey = MakeKey();
  Publish(Options("1.4.2", true));
  for (const char* name : {"config.json", "fileInfo_1_4_2.json"}) {
    const std::string document = ReadText(channel_ / name);
    const std::string signature = ReadText(channel_ / (std::string(name) + ".sig"));
    EXPECT_EQ(signature.back(), '\n');
    EXPECT_TRUE(SignedBy(document, signature, publicKey)) << name;
    // The same content in other whitespace is another document.
    rapidjson::Document parsed;
    parsed.Parse(document.c_str());
    ASSERT_TRUE(parsed.IsObject());
    EXPECT_FALSE(SignedBy(Compact(parsed), signature, publicKey)) << name;
    std::string flipped = document;
    flipped[flipped.find(':') + 2] ^= 0x01;
    EXPECT_FALSE(SignedBy(flipped, signature, publicKey)) << name;
  }
  // Another key's public half does not verify them.
  fs::remove(key_);
  const std::string otherKey = MakeKey();
  EXPECT_FALSE(SignedBy(ReadText(channel_ / "config.json"), ReadText(channel_ / "config.json.sig"), otherKey));
}

TEST_F(ReleaseSigningTest, SignedFileInformationNamesItsChannelVersionAndArchiveDigests) {
  const std::string publicKey = MakeKey();
  Publish(Options("2.0.11", true));
  rapidjson::Document info;
  info.Parse(ReadText(channel_ / "fileInfo_2_0_11.json").c_str());
  ASSERT_TRUE(info.IsObject());
  EXPECT_STREQ(info["channel"].GetString(), "MorvanePC1");
  EXPECT_STREQ(info["version"].GetString(), "2.0.11");
  const fs::path archive = channel_ / "res_2_0_11.zip";
  const fs::path capture = root_ / "digest.txt";
  EXPECT_EQ(info["zipSha256"].GetString(), FirstWordOf("sha256sum " + Quoted(archive), capture));
  EXPECT_EQ(info["zipMd5"].GetString(), FirstWordOf("md5sum " + Quoted(archive), capture));
  // The file list is part of the signed bytes: a changed digest in it breaks the signature.
  ASSERT_TRUE(info.HasMember("files") && info["files"].IsArray());
  ASSERT_EQ(info["files"].Size(), 2u);
  const std::string text = ReadText(channel_ / "fileInfo_2_0_11.json");
  const std::string signature = ReadText(channel_ / "fileInfo_2_0_11.json.sig");
  EXPECT_TRUE(SignedBy(text, signature, publicKey));
  const std::string digest = info["files"][0]["sha256"].GetString();
  std::string forged = text;
  const auto at = forged.find(digest);
  ASSERT_NE(at, std::string::npos);
  forged[at] = forged[at] == '0' ? '1' : '0';
  EXPECT_FALSE(SignedBy(forged, signature, publicKey));
  const auto config = Config();
  EXPECT_STREQ(config["channel"].GetString(), "MorvanePC1");
  EXPECT_STREQ(config["lastVersion"].GetString(), "2.0.11");
  EXPECT_FALSE(config.HasMember("expires"));
}

// The older format plus the file list, which older launchers ignore.
TEST_F(ReleaseSigningTest, UnsignedReleaseIsExactlyTheOlderFormat) {
  Publish(Options("1.0.0", false));
  EXPECT_EQ(ReadText(channel_ / "config.json"), "{\n  \"lastVersion\": \"1.0.0\",\n  \"unsupportedVersions\": []\n}\n");
  rapidjson::Document info;
  const std::string infoText = ReadText(channel_ / "fileInfo_1_0_0.json");
  info.Parse(infoText.c_str());
  ASSERT_TRUE(info.IsObject());
  EXPECT_EQ(MemberNames(info), (std::vector<std::string>{"zipName", "zipMd5", "zipBytes", "fileNameList", "files"}));
  // Python's own writer gives the same text: two-space indent, a newline at the end.
  const fs::path pythonOut = root_ / "python.json";
  ASSERT_EQ(RunShell("python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); "
                     "open(sys.argv[2],\"w\").write(json.dumps(d, indent=2, ensure_ascii=False)+\"\\n\")' " +
                     Quoted(channel_ / "fileInfo_1_0_0.json") + " " + Quoted(pythonOut)),
            0);
  EXPECT_EQ(infoText, ReadText(pythonOut));
  for (const auto& entry : fs::directory_iterator(channel_)) EXPECT_NE(entry.path().extension(), ".sig");
}

TEST_F(ReleaseSigningTest, SerialRisesAboveThePublishedOneAndOnlyWhenSigning) {
  MakeKey();
  Publish(Options("1.0.0", true));
  EXPECT_EQ(Config()["serial"].GetInt64(), 1);
  Publish(Options("1.0.0", true));  // the same build again still gives a new configuration
  EXPECT_EQ(Config()["serial"].GetInt64(), 2);

  WriteText(channel_ / "config.json", "{\"lastVersion\": \"1.0.0\", \"serial\": 4096, \"motd\": \"kept\"}");
  Publish(Options("1.0.1", true));
  EXPECT_EQ(Config()["serial"].GetInt64(), 4097);
  EXPECT_STREQ(Config()["motd"].GetString(), "kept");

  // Unsigned, the configuration keeps its members as they are, and the stale signatures are named.
  const std::string log = Publish(Options("1.0.2", false));
  EXPECT_EQ(Config()["serial"].GetInt64(), 4097);
  EXPECT_NE(log.find("config.json.sig belongs to an earlier release"), std::string::npos) << log;
}

TEST_F(ReleaseSigningTest, RefusesASerialItCannotRaiseBeforeWritingAnything) {
  MakeKey();
  for (const char* serial : {"0", "-3", "1.5", "\"7\"", "9223372036854775807"}) {
    const std::string config = std::string("{\"lastVersion\": \"0.9.0\", \"serial\": ") + serial + "}";
    WriteText(channel_ / "config.json", config);
    EXPECT_THROW(Publish(Options("1.0.0", true)), PublishError) << serial;
    EXPECT_EQ(ReadText(channel_ / "config.json"), config);
    EXPECT_FALSE(fs::exists(channel_ / "res_1_0_0.zip")) << serial;
    EXPECT_FALSE(fs::exists(channel_ / "config.json.sig")) << serial;
  }
}

TEST_F(ReleaseSigningTest, ExpiryIsSetFromTheDaysGivenAndDroppedWithoutThem) {
  MakeKey();
  auto options = Options("1.0.0", true);
  options.expiresInDays = 3;
  const std::int64_t before = NowMs();
  Publish(options);
  const std::int64_t after = NowMs();
  constexpr std::int64_t kThreeDays = 3LL * 24 * 3600 * 1000;
  ASSERT_TRUE(Config()["expires"].IsInt64());
  EXPECT_GE(Config()["expires"].GetInt64(), before + kThreeDays);
  EXPECT_LE(Config()["expires"].GetInt64(), after + kThreeDays);
  Publish(Options("1.0.1", true));
  EXPECT_FALSE(Config().HasMember("expires"));

  std::string output;
  const std::string folders = " MorvanePC1 1.0.2 " + Quoted(build_) + " " + Quoted(out_);
  EXPECT_EQ(Tool("--expires-in-days 3" + folders, &output), 2);
  EXPECT_NE(output.find("--expires-in-days needs --sign-key"), std::string::npos) << output;
  for (const char* days : {"0", "3651", "2x", "-1", ""}) {
    EXPECT_EQ(Tool("--sign-key " + Quoted(key_) + " --expires-in-days '" + days + "'" + folders), 2) << days;
  }
  EXPECT_EQ(Tool("--sign-key " + Quoted(key_) + " --expires-in-days 3650" + folders, &output), 0) << output;
}

TEST_F(ReleaseSigningTest, RefusesAKeyFileThatHoldsNoKeyBeforePacking) {
  for (const std::string& text : {std::string("not base64 at all\n"), std::string(88, 'A') + "\n\n", std::string()}) {
    WriteText(key_, text);
    EXPECT_THROW(Publish(Options("1.0.0", true)), PublishError);
    EXPECT_FALSE(fs::exists(channel_ / "res_1_0_0.zip"));
    EXPECT_FALSE(fs::exists(channel_ / "config.json"));
  }
  fs::remove(key_);
  EXPECT_THROW(Publish(Options("1.0.0", true)), PublishError);
  // A readable-by-others key still signs, with a warning.
  MakeKey();
  fs::permissions(key_, fs::perms(0644));
  EXPECT_NE(Publish(Options("1.0.0", true)).find("can be read by other users"), std::string::npos);
}

}  // namespace
}  // namespace publish

// launcher-publish verify against a real nginx on 127.0.0.1 serving a channel published by the
// publisher, healthy and with each fault a player would meet: documents whose signatures are
// wrong, missing or of another key, a file information of another version or channel, an expired
// configuration, an unsigned channel, a swapped archive, a server that ignores ranges, compresses
// documents or lets caches keep config.json.
#include "tools/publish/channel_verify.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "tests/support/file_text.h"
#include "tests/support/nginx_server.h"
#include "tests/support/scratch_dir.h"
#include "tools/publish/publisher.h"
#include "tools/publish/release_signature.h"

namespace publish {
namespace {
namespace fs = std::filesystem;
using testsupport::NginxServer;
using testsupport::ScratchDir;

using testsupport::ReadText;
using testsupport::WriteText;

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::size_t Count(const std::string& text, const std::string& word) {
  std::size_t count = 0;
  for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++count;
  return count;
}

class ChannelVerifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testsupport::NginxPath().empty()) GTEST_SKIP() << "nginx is not installed";
    publicKey_ = GenerateSecretKeyFile(key_);
    WriteText(scratch_.Path() / "build" / "kolv.exe", "#!/bin/sh\necho game\n");
    WriteText(scratch_.Path() / "build" / "data.bin", std::string(150000, 'd') + std::string(150000, 'e'));
  }

  // nginx serving the publisher's output folder, with `extra` inside its server block.
  void Serve(const std::string& extra = "") {
    nginx_ = std::make_unique<NginxServer>("server { listen 127.0.0.1:@PORT0@; root @ROOT@; " + extra + " }");
    ASSERT_TRUE(nginx_->Started()) << nginx_->ErrorLog();
  }

  void Release(const std::string& version, bool sign = true, const std::string& channel = "MorvanePC1") {
    PublishOptions options;
    options.channelId = channel;
    options.version = version;
    options.buildFolder = scratch_.Path() / "build";
    options.outputFolder = nginx_->Root();
    if (sign) options.signKey = key_;
    std::ostringstream log;
    Publish(options, log);
  }

  fs::path Served(const std::string& path) const { return nginx_->Root() / "MorvanePC1" / path; }

  // The report; `problems` the count it returned.
  std::string Verify(int& problems, const std::string& publicKey = "") {
    VerifyOptions options;
    options.baseUrl = nginx_->BaseUrl(0);
    options.channelId = "MorvanePC1";
    options.publicKey = *DecodeReleaseKey(publicKey.empty() ? publicKey_ : publicKey);
    options.nowMs = NowMs();
    std::ostringstream out;
    problems = VerifyChannel(options, out);
    return out.str();
  }

  ScratchDir scratch_{"channel-verify"};
  fs::path key_ = scratch_.Path() / "release.key";
  std::string publicKey_;
  std::unique_ptr<NginxServer> nginx_;
};

TEST_F(ChannelVerifyTest, HealthyChannelPassesEveryCheckAndTheToolSaysSo) {
  Serve();
  Release("1.0.0");
  Release("1.0.1");
  int problems = -1;
  const std::string report = Verify(problems);
  EXPECT_EQ(problems, 0) << report;
  for (const char* line : {"ok      signature of MorvanePC1/config.json matches the release key",
                           "ok      signature of MorvanePC1/fileInfo_1_0_1.json matches the release key",
                           "ok      MorvanePC1/config.json has serial 2", "ok      MorvanePC1/res_1_0_1.zip MD5 ",
                           "ok      MorvanePC1/res_1_0_1.zip SHA-256 ", " with 206 and the ",
                           "ok      MorvanePC1/res_1_0_1.zip holds the 2 listed files"}) {
    EXPECT_NE(report.find(line), std::string::npos) << line << "\n" << report;
  }
  // The archive was fetched whole once, a range of it once, its headers once (nginx logs a request
  // when it has ended, which may be after the client saw the answer).
  EXPECT_EQ(nginx_->WaitForRequests(0, "MorvanePC1/res_1_0_1.zip", 3), 3);

  const std::string tool = std::string("'") + LAUNCHER_PUBLISH_EXE + "' verify " + nginx_->BaseUrl(0) + " MorvanePC1";
  const auto exitCode = [](const std::string& command) {
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(exitCode(tool + " --public-key " + publicKey_), 0);
  EXPECT_EQ(exitCode(tool + " --public-key " + GenerateSecretKeyFile(scratch_.Path() / "other.key")), 1);
  EXPECT_EQ(exitCode(tool + " --public-key AAAA"), 2);
  EXPECT_EQ(exitCode(tool), 2);
}

TEST_F(ChannelVerifyTest, WrongMissingOrForeignSignaturesAreEachNamed) {
  Serve();
  Release("1.0.0");
  int problems = 0;
  // One byte of whitespace more is another document.
  WriteText(Served("fileInfo_1_0_0.json"), ReadText(Served("fileInfo_1_0_0.json")) + " ");
  fs::remove(Served("config.json.sig"));
  std::string report = Verify(problems);
  EXPECT_NE(report.find("problem signature of MorvanePC1/fileInfo_1_0_0.json does not match the release key"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("problem signature of MorvanePC1/config.json is missing (MorvanePC1/config.json.sig: "
                        "HTTP status 404)"),
            std::string::npos)
      << report;
  EXPECT_EQ(problems, 2) << report;

  WriteText(Served("config.json.sig"), "c2lnbmF0dXJl\n");
  report = Verify(problems);
  EXPECT_NE(report.find("problem signature of MorvanePC1/config.json is malformed"), std::string::npos) << report;

  Release("1.0.1");  // fresh signatures, checked with another key
  report = Verify(problems, GenerateSecretKeyFile(scratch_.Path() / "other.key"));
  EXPECT_EQ(Count(report, "does not match the release key"), 2u) << report;
  EXPECT_EQ(problems, 2) << report;
}

// verify judges a signature file exactly as a launcher does: one line end, LF or CR LF (saved by an
// editor on Windows), is part of the format; anything more is not.
TEST_F(ChannelVerifyTest, SignatureFilesAreJudgedAsTheLauncherJudgesThem) {
  Serve();
  Release("1.0.0");
  std::string signature = ReadText(Served("config.json.sig"));
  ASSERT_FALSE(signature.empty());
  ASSERT_EQ(signature.back(), '\n');
  signature.pop_back();
  WriteText(Served("config.json.sig"), signature + "\r\n");
  int problems = -1;
  std::string report = Verify(problems);
  EXPECT_EQ(problems, 0) << report;
  EXPECT_EQ(CheckSignature(*DecodeReleaseKey(publicKey_), ReadText(Served("config.json")), signature + "\r\n"),
            SignatureCheck::kValid);

  WriteText(Served("config.json.sig"), signature + "\n\n");
  report = Verify(problems);
  EXPECT_NE(report.find("problem signature of MorvanePC1/config.json is malformed"), std::string::npos) << report;
  EXPECT_EQ(CheckSignature(*DecodeReleaseKey(publicKey_), ReadText(Served("config.json")), signature + "\n\n"),
            SignatureCheck::kMalformed);
}

TEST_F(ChannelVerifyTest, DocumentsOfAnotherVersionOrChannelAndExpiredOnesAreRefused) {
  Serve();
  Release("1.0.0");
  Release("1.0.1");
  Release("1.0.1", true, "OtherPC");
  int problems = 0;
  // A validly signed file information served under the newer version's name.
  for (const char* suffix : {"", ".sig"}) {
    fs::copy_file(Served(std::string("fileInfo_1_0_0.json") + suffix),
                  Served(std::string("fileInfo_1_0_1.json") + suffix), fs::copy_options::overwrite_existing);
  }
  std::string report = Verify(problems);
  EXPECT_NE(report.find("problem MorvanePC1/fileInfo_1_0_1.json names version \"1.0.0\", not 1.0.1"), std::string::npos)
      << report;
  EXPECT_EQ(problems, 1) << report;

  for (const char* suffix : {"", ".sig"}) {
    fs::copy_file(nginx_->Root() / "OtherPC" / (std::string("fileInfo_1_0_1.json") + suffix),
                  Served(std::string("fileInfo_1_0_1.json") + suffix), fs::copy_options::overwrite_existing);
  }
  report = Verify(problems);
  EXPECT_NE(report.find("problem MorvanePC1/fileInfo_1_0_1.json names channel \"OtherPC\", not MorvanePC1"),
            std::string::npos)
      << report;

  // Signed with the right key, but past its expiry.
  const std::string expired =
      "{\"lastVersion\": \"1.0.0\", \"unsupportedVersions\": [], \"channel\": \"MorvanePC1\", "
      "\"serial\": 9, \"expires\": " +
      std::to_string(NowMs() - 1000) + "}";
  WriteText(Served("config.json"), expired);
  WriteText(Served("config.json.sig"), SigningKey::ReadFile(key_).SignatureFileText(expired));
  report = Verify(problems);
  EXPECT_NE(report.find("problem MorvanePC1/config.json expired at "), std::string::npos) << report;
  EXPECT_EQ(problems, 1) << report;
}

TEST_F(ChannelVerifyTest, UnsignedChannelMissesEverySignedReleaseKey) {
  Serve();
  Release("1.0.0", false);
  int problems = 0;
  const std::string report = Verify(problems);
  for (const char* line : {"problem signature of MorvanePC1/config.json is missing",
                           "problem signature of MorvanePC1/fileInfo_1_0_0.json is missing",
                           "problem MorvanePC1/config.json has no \"serial\"",
                           "problem MorvanePC1/fileInfo_1_0_0.json has no \"zipSha256\"",
                           "problem MorvanePC1/fileInfo_1_0_0.json names version \"\""}) {
    EXPECT_NE(report.find(line), std::string::npos) << line << "\n" << report;
  }
}

TEST_F(ChannelVerifyTest, ArchiveSwappedForOtherBytesOfTheSameSize) {
  Serve();
  Release("1.0.0");
  std::string archive = ReadText(Served("res_1_0_0.zip"));
  archive[archive.size() / 3] ^= 0x20;
  WriteText(Served("res_1_0_0.zip"), archive);
  int problems = 0;
  const std::string report = Verify(problems);
  EXPECT_NE(report.find("problem MorvanePC1/res_1_0_0.zip has MD5 "), std::string::npos) << report;
  EXPECT_NE(report.find("problem MorvanePC1/res_1_0_0.zip has SHA-256 "), std::string::npos) << report;
  EXPECT_EQ(problems, 2) << report;
}

// A list that the signature covers but that does not describe the archive: a digest of other
// bytes and an entry left out are each named; a list launchers would refuse is named too.
TEST_F(ChannelVerifyTest, FileListThatDisagreesWithItsArchive) {
  Serve();
  Release("1.0.0");
  const auto resign = [&](const std::string& text) {
    WriteText(Served("fileInfo_1_0_0.json"), text);
    WriteText(Served("fileInfo_1_0_0.json.sig"), SigningKey::ReadFile(key_).SignatureFileText(text));
  };
  std::string info = ReadText(Served("fileInfo_1_0_0.json"));
  const auto dataAt = info.find("\"path\": \"data.bin\"");
  const auto exeAt = info.find("\"path\": \"kolv.exe\"");
  ASSERT_NE(dataAt, std::string::npos);
  ASSERT_NE(exeAt, std::string::npos);
  const auto digestAt = info.find("\"sha256\": \"", dataAt) + 11;
  info[digestAt] = info[digestAt] == '0' ? '1' : '0';
  // The elements are written in the archive's order: data.bin, then kolv.exe, the last one.
  const auto exeElement = info.rfind(",", exeAt);
  info.erase(exeElement, info.find("}", exeAt) + 1 - exeElement);
  resign(info);
  int problems = 0;
  std::string report = Verify(problems);
  EXPECT_NE(report.find("problem MorvanePC1/res_1_0_0.zip: listed file data.bin has SHA-256 "), std::string::npos)
      << report;
  EXPECT_NE(report.find("problem MorvanePC1/res_1_0_0.zip: archive entry kolv.exe is missing from the file list"),
            std::string::npos)
      << report;
  EXPECT_EQ(problems, 2) << report;

  std::string unsafe = ReadText(Served("fileInfo_1_0_0.json"));
  unsafe.replace(unsafe.find("\"data.bin\"", unsafe.find("\"files\"")), 10, "\"../x.bin\"");
  resign(unsafe);
  report = Verify(problems);
  EXPECT_NE(report.find("problem MorvanePC1/fileInfo_1_0_0.json has a \"files\" list launchers refuse"),
            std::string::npos)
      << report;
  EXPECT_EQ(problems, 1) << report;
}

TEST_F(ChannelVerifyTest, ServerThatIgnoresRanges) {
  Serve("max_ranges 0;");
  Release("1.0.0");
  int problems = 0;
  const std::string report = Verify(problems);
  EXPECT_NE(report.find("problem MorvanePC1/res_1_0_0.zip ignores byte ranges"), std::string::npos) << report;
  EXPECT_EQ(problems, 1) << report;
}

TEST_F(ChannelVerifyTest, ServerThatCompressesDocuments) {
  Serve(
      "gzip on; gzip_min_length 1; gzip_types application/json; location ~ \\.json$ { default_type application/json; "
      "}");
  Release("1.0.0");
  int problems = 0;
  const std::string report = Verify(problems);
  EXPECT_NE(report.find("problem MorvanePC1/config.json is served with Content-Encoding: gzip"), std::string::npos)
      << report;
  EXPECT_NE(report.find("problem MorvanePC1/fileInfo_1_0_0.json is served with Content-Encoding: gzip"),
            std::string::npos)
      << report;
  // Decoded, they are still the documents that were signed.
  EXPECT_NE(report.find("ok      signature of MorvanePC1/config.json matches"), std::string::npos) << report;
  EXPECT_EQ(problems, 2) << report;
}

TEST_F(ChannelVerifyTest, CachingHeadersOnTheConfiguration) {
  for (const char* rule : {"expires 1h;", "add_header Cache-Control \"public, max-age=86400\";"}) {
    Serve(std::string("location ~ config\\.json$ { ") + rule + " }");
    Release("1.0.0");
    int problems = 0;
    const std::string report = Verify(problems);
    EXPECT_NE(report.find("problem MorvanePC1/config.json may be cached for more than 60 s"), std::string::npos)
        << rule << "\n"
        << report;
    EXPECT_EQ(problems, 1) << rule << "\n" << report;
  }
  Serve("location ~ config\\.json$ { expires 1h; add_header Cache-Control no-cache; }");
  Release("1.0.0");
  int problems = 0;
  const std::string report = Verify(problems);
  EXPECT_EQ(problems, 0) << report;
}

}  // namespace
}  // namespace publish

// Redirects may keep or raise the scheme, never lower it: nginx serves https with a certificate
// of an authority made here (trusted by this process only, through CURL_CA_BUNDLE) and
// redirects to plain http; documents and the archive must refuse that, and keep following
// redirects that stay on https.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/settings.h"
#include "net/http_util.h"
#include "tests/net/transfer_recorder.h"
#include "tests/support/nginx_server.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/test_authority.h"

namespace {

using testsupport::NginxServer;
using testsupport::ScratchDir;

class RedirectSchemeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!settings::verifyTls) GTEST_SKIP() << "this build turns certificate checks off";
    ASSERT_TRUE(testsupport::MakeTestAuthority(scratch_));
    ::setenv("CURL_CA_BUNDLE", scratch_.File("ca.pem").c_str(), 1);
    const std::string tls =
        "ssl_certificate " + scratch_.File("server.pem") + "; ssl_certificate_key " + scratch_.File("server.key") + ";";
    // Port 0: https, sending /down/ to plain http and /up/ to itself on https. Port 1: http.
    nginx_ = std::make_unique<NginxServer>("server { listen 127.0.0.1:@PORT0@ ssl; " + tls + R"( root @ROOT@;
           location /down/ { rewrite ^/down/(.*)$ http://127.0.0.1:@PORT1@/$1 redirect; }
           location /up/ { rewrite ^/up/(.*)$ https://127.0.0.1:@PORT0@/$1 redirect; } }
         server { listen 127.0.0.1:@PORT1@; root @ROOT@;
           location /up/ { rewrite ^/up/(.*)$ https://127.0.0.1:@PORT0@/$1 redirect; } })",
                                           2);
    ASSERT_TRUE(nginx_->Started()) << nginx_->ErrorLog();
    std::filesystem::create_directories(nginx_->Root() / "MorvanePC1");
    std::ofstream(nginx_->Root() / "MorvanePC1/config.json") << R"({"lastVersion":"1.0.0"})";
    archive_ = PatternBytes(100000);
    std::ofstream(nginx_->Root() / "MorvanePC1/pkg.zip", std::ios::binary) << archive_;
  }
  void TearDown() override { ::unsetenv("CURL_CA_BUNDLE"); }

  TransferCall Request(const std::string& url) {
    TransferRecorder recorder;
    ::testing::internal::CaptureStdout();
    HttpUtil::Request(url, "", recorder.Callback(), 6000);
    ::testing::internal::GetCapturedStdout();
    return recorder.Finals().empty() ? TransferCall{} : recorder.Finals().back();
  }
  TransferCall Download(const std::string& url) {
    TransferRecorder recorder;
    ::testing::internal::CaptureStdout();
    HttpUtil::Download({0, scratch_.File("pkg.zip"), recorder.Callback(), url});
    ::testing::internal::GetCapturedStdout();
    return recorder.Finals().empty() ? TransferCall{} : recorder.Finals().back();
  }

  ScratchDir scratch_{"net-redirect-scheme"};
  std::unique_ptr<NginxServer> nginx_;
  std::string archive_;
};

TEST_F(RedirectSchemeTest, HttpsToHttpIsRefusedForDocumentsAndTheArchive) {
  // The authority is trusted: the same resources over https directly arrive.
  EXPECT_EQ(Request(nginx_->Url(0, "MorvanePC1/config.json", "https")).status, "succ");

  const TransferCall document = Request(nginx_->Url(0, "down/MorvanePC1/config.json", "https"));
  EXPECT_EQ(document.status, "error");
  EXPECT_EQ(document.payload, "curl perform fail, ret_code is 302 (Unsupported protocol)");

  const TransferCall archive = Download(nginx_->Url(0, "down/MorvanePC1/pkg.zip", "https"));
  EXPECT_EQ(archive.status, "fail");
  EXPECT_EQ(archive.first, 1);  // unsupported protocol
  EXPECT_EQ(archive.second, 302);
  EXPECT_EQ(nginx_->RequestCount(1), 0);  // the plain-http server was never asked
}

TEST_F(RedirectSchemeTest, RedirectsThatKeepOrRaiseTheSchemeAreFollowed) {
  const TransferCall kept = Request(nginx_->Url(0, "up/MorvanePC1/config.json", "https"));
  EXPECT_EQ(kept.status, "succ");
  EXPECT_EQ(kept.payload, R"({"lastVersion":"1.0.0"})");

  EXPECT_EQ(Download(nginx_->Url(1, "up/MorvanePC1/pkg.zip")).status, "succ");
  EXPECT_TRUE(SameBytes(ReadFileBytes(scratch_.File("pkg.zip")), archive_));
}

}  // namespace

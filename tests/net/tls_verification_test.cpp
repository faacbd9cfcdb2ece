// Certificate checks are on unless the build turns them off: a server on 127.0.0.1 with a
// self-signed certificate must be refused by downloads and requests alike.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/settings.h"
#include "net/http_util.h"
#include "tests/net/transfer_recorder.h"
#include "tests/support/loopback.h"
#include "tests/support/scratch_dir.h"

extern char** environ;

namespace {

// A TLS server with a fresh self-signed certificate, run by the openssl tool.
class SelfSignedServer {
 public:
  explicit SelfSignedServer(const testsupport::ScratchDir& scratch) {
    const std::string key = scratch.File("key.pem");
    const std::string cert = scratch.File("cert.pem");
    const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 -keyout " + key +
                             " -out " + cert + " >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0) return;
    port_ = testsupport::FreeLoopbackPort();
    std::vector<std::string> arguments = {
        "openssl", "s_server", "-quiet", "-www", "-accept", "127.0.0.1:" + std::to_string(port_),
        "-cert",   cert,       "-key",   key};
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&pid_, "openssl", &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&actions);
    for (int wait = 0; pid_ != 0 && wait < 100 && !testsupport::LoopbackAccepts(port_); ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~SelfSignedServer() {
    if (pid_ == 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  SelfSignedServer(const SelfSignedServer&) = delete;
  SelfSignedServer& operator=(const SelfSignedServer&) = delete;

  bool Running() const { return pid_ != 0 && testsupport::LoopbackAccepts(port_); }
  std::string Url(const std::string& path) const { return "https://127.0.0.1:" + std::to_string(port_) + "/" + path; }

 private:
  pid_t pid_ = 0;
  int port_ = 0;
};

TEST(TlsVerificationTest, SelfSignedCertificateIsRefused) {
  if (!settings::verifyTls) GTEST_SKIP() << "this build turns certificate checks off";
  testsupport::ScratchDir scratch("net-tls");
  SelfSignedServer server(scratch);
  if (!server.Running()) GTEST_SKIP() << "the openssl tool could not serve TLS here";

  TransferRecorder request;
  ::testing::internal::CaptureStdout();
  HttpUtil::Request(server.Url("config.json"), "", request.Callback(), 6000);
  ::testing::internal::GetCapturedStdout();
  ASSERT_EQ(request.Finals().size(), 1u);
  EXPECT_EQ(request.Finals()[0].status, "error");
  EXPECT_EQ(request.Finals()[0].payload,
            "curl perform fail, ret_code is 0 (SSL peer certificate or SSH remote key was not OK)");

  TransferRecorder download;
  ::testing::internal::CaptureStdout();
  HttpUtil::Download({0, scratch.File("pkg.zip"), download.Callback(), server.Url("pkg.zip")});
  ::testing::internal::GetCapturedStdout();
  ASSERT_EQ(download.Finals().size(), 1u);
  EXPECT_EQ(download.Finals()[0].status, "fail");
  EXPECT_EQ(download.Finals()[0].first, 60);  // peer failed verification
  EXPECT_EQ(download.Finals()[0].second, 0);
}

}  // namespace

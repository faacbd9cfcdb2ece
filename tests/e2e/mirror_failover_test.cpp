// A player's update with two base URLs of which the second misbehaves the way mirrors do in the
// field: its connections hang, it trickles, it answers 404, or it redirects from https to plain
// http. The documents go to the second base URL first and the archive to either, so each fault
// meets every transfer; the update must still complete from the first base URL, within the
// documents' budget plus the download's time, and never fetch anything over the downgrade.
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "tests/e2e/launcher_fixture.h"
#include "tests/support/folder_watch.h"
#include "tests/support/hung_listener.h"
#include "tests/support/nginx_server.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/test_authority.h"

namespace e2e {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using testsupport::HungListener;
using testsupport::NginxServer;
using testsupport::ScratchDir;

class MirrorFailoverTest : public LauncherFixture {
 protected:
  void TearDown() override {
    ::unsetenv("CURL_CA_BUNDLE");
    LauncherFixture::TearDown();
  }

  // nginx as the bad mirror on its fixed https port (the launcher's second base URL), with the
  // case's directives; @PORT0@ is a plain http server of the same content, the redirect's target.
  std::unique_ptr<NginxServer> BadMirror(const std::string& directives) {
    const std::string tls = "ssl_certificate " + authority_.File("server.pem") + "; ssl_certificate_key " +
                            authority_.File("server.key") + ";";
    auto nginx =
        std::make_unique<NginxServer>("server { listen 127.0.0.1:@PORT0@; root " + content_.string() +
                                      "; }\n server { listen 127.0.0.1:" + std::to_string(LAUNCHER_E2E_BAD_PORT) +
                                      " ssl; " + tls + " root " + content_.string() + "; " + directives + " }");
    EXPECT_TRUE(nginx->Started()) << nginx->ErrorLog();
    return nginx;
  }

  // One player's run from an empty working folder: true when the game of `version` started.
  bool UpdateCompletes(const std::string& name, long long& tookMs, std::string& output) {
    fs::remove_all(DataFolder());
    fs::remove_all(DownloadFolder());
    ClearLog();
    const auto started = steady_clock::now();
    const LauncherRun run = RunLauncher({}, "", std::chrono::seconds(60));
    tookMs = std::chrono::duration_cast<milliseconds>(steady_clock::now() - started).count();
    output = run.output;
    std::printf("%s: update done in %lld ms\n", name.c_str(), tookMs);
    return run.exitCode == 0 && GameRuns(1).size() == 1 && ReadText(DataFolder() / "version.txt") == "1.0.0";
  }

  // Requests nginx logged on `port`; nginx logs a request when it ends, so an empty count waits up
  // to a second for the log to change.
  static int RequestsOn(const NginxServer& nginx, int port) {
    const auto count = [&] {
      int lines = 0;
      std::ifstream log(nginx.Folder() / "access.log");
      for (std::string line; std::getline(log, line);) lines += line.rfind(std::to_string(port) + " ", 0) == 0;
      return lines;
    };
    const auto deadline = steady_clock::now() + milliseconds(1000);
    testsupport::FolderWatch watch(nginx.Folder());
    int seen = count();
    while (seen == 0 && watch.WaitForChange(deadline)) seen = count();
    return seen;
  }

  ScratchDir authority_{"e2e-mirror-authority"};
};

TEST_F(MirrorFailoverTest, UpdateCompletesFromTheHealthyBaseUrlWhateverTheOtherDoes) {
  ASSERT_TRUE(testsupport::MakeTestAuthority(authority_));
  ::setenv("CURL_CA_BUNDLE", authority_.File("ca.pem").c_str(), 1);
  Publish("1.0.0");
  StartServer();
  // Documents: 12.6 s of budget each at most; the archive: its stall window of 5 s in this build,
  // plus libcurl's five seconds of rate history, then a few megabytes over loopback.
  constexpr long long kSlowLimitMs = 2 * 12600 + 10000 + 5000;
  long long tookMs = 0;
  std::string output;
  {
    HungListener hung(LAUNCHER_E2E_BAD_PORT);
    ASSERT_EQ(hung.Port(), LAUNCHER_E2E_BAD_PORT);
    EXPECT_TRUE(UpdateCompletes("hanging mirror", tookMs, output)) << output.substr(0, 4000);
    EXPECT_LT(tookMs, kSlowLimitMs);
  }
  {
    auto nginx = BadMirror("limit_rate 2;");
    EXPECT_TRUE(UpdateCompletes("trickling mirror", tookMs, output)) << output.substr(0, 4000);
    EXPECT_LT(tookMs, kSlowLimitMs);
  }
  {
    auto nginx = BadMirror("location / { return 404; }");
    EXPECT_TRUE(UpdateCompletes("mirror answering 404", tookMs, output)) << output.substr(0, 4000);
    EXPECT_LT(tookMs, 10000);
    EXPECT_NE(output.find("ret_code is 404"), std::string::npos);
    // A few attempts at most, not one per poll of the budget.
    EXPECT_GE(RequestsOn(*nginx, LAUNCHER_E2E_BAD_PORT), 2);
    EXPECT_LE(RequestsOn(*nginx, LAUNCHER_E2E_BAD_PORT), 6);
  }
  {
    // The target serves the same content over plain http: following the redirect would "work".
    auto nginx = BadMirror("location / { return 302 http://127.0.0.1:@PORT0@$request_uri; }");
    EXPECT_TRUE(UpdateCompletes("mirror redirecting to http", tookMs, output)) << output.substr(0, 4000);
    EXPECT_LT(tookMs, 10000);
    EXPECT_GE(RequestsOn(*nginx, LAUNCHER_E2E_BAD_PORT), 2);  // both documents were asked there
    EXPECT_EQ(RequestsOn(*nginx, nginx->Port(0)), 0);         // nothing over plain http
  }
}

}  // namespace
}  // namespace e2e

// The proxy environment variables on Linux: libcurl's own rule, which the launcher keeps. With
// http_proxy set every request goes through the proxy; with the server in no_proxy none does.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "tests/e2e/launcher_fixture.h"

namespace e2e {
namespace {

using std::chrono::seconds;

// "<method> <target>" of each line; the content server adds range, status and size after them.
std::multiset<std::string> Requests(const std::vector<std::string>& lines) {
  std::multiset<std::string> requests;
  for (const std::string& line : lines) {
    std::istringstream words(line);
    std::string method, target;
    if (words >> method >> target) requests.insert(method + " " + target);
  }
  return requests;
}

std::vector<std::string> Lines(const fs::path& file) {
  std::ifstream in(file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class ProxyEnvironmentTest : public LauncherFixture {
 protected:
  void SetUp() override {
    LauncherFixture::SetUp();
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "ALL_PROXY", "all_proxy", "no_proxy", "NO_PROXY"}) {
      unsetenv(name);
    }
  }
  void TearDown() override {
    unsetenv("http_proxy");
    unsetenv("no_proxy");
    LauncherFixture::TearDown();
  }
};

TEST_F(ProxyEnvironmentTest, HttpProxySendsEveryRequestThroughItAndNoProxyBypassesIt) {
  Publish("1.0.0");
  StartServer();
  const fs::path proxyLog = root_ / "proxy-requests.log";
  ChildProcess proxy(LAUNCHER_PYTHON, {LAUNCHER_FORWARD_PROXY, proxyLog.string()}, root_, {});
  ASSERT_TRUE(proxy.WaitForOutput("\n", std::chrono::seconds(10))) << proxy.Output();
  std::istringstream banner(proxy.Output());
  std::string word;
  int port = 0;
  ASSERT_TRUE(banner >> word >> port) << proxy.Output();
  setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(port)).c_str(), 1);

  const LauncherRun through = RunLauncher({});
  ASSERT_EQ(through.exitCode, 0) << through.output;
  const auto served = Requests(LogFor("/"));
  EXPECT_GE(served.size(), 3u);  // the channel's configuration, its file information, the archive
  EXPECT_EQ(Requests(Lines(proxyLog)), served);

  ClearLog();
  std::ofstream(proxyLog, std::ios::trunc).close();
  setenv("no_proxy", "127.0.0.1", 1);
  const LauncherRun bypassed = RunLauncher({});
  ASSERT_EQ(bypassed.exitCode, 0) << bypassed.output;
  EXPECT_FALSE(LogFor("/").empty());
  EXPECT_TRUE(Lines(proxyLog).empty());
}

}  // namespace
}  // namespace e2e

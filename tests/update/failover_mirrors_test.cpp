// The failover against mirrors that misbehave the way real servers do, served by nginx with
// the configuration that produces it: each bad mirror costs a bounded attempt, and a healthy
// one answers within the budget.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "test_helpers.h"
#include "tests/support/nginx_server.h"
#include "update/failover.h"

namespace updatetest {
namespace {

using testsupport::NginxServer;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kPath = "MorvanePC1/config.json";
const std::string kDocument = R"({"lastVersion":"1.0.0","unsupportedVersions":[]})";

FailoverSettings MirrorTimings() {
  FailoverSettings timings;
  timings.initialDelayMs = 50;
  timings.pollIntervalMs = 10;
  timings.allTimeoutMs = 3000;
  timings.attemptTimeout = 500;
  return timings;
}

void Publish(const NginxServer& nginx) {
  std::filesystem::create_directories(nginx.Root() / "MorvanePC1");
  std::ofstream(nginx.Root() / kPath) << kDocument;
}

std::vector<Row> WaitForFinal(const std::shared_ptr<Recorder>& recorder, std::chrono::milliseconds limit) {
  recorder->WaitUntil(
      [](const std::vector<Row>& rows) {
        return !rows.empty() && (rows.back().status == "succ" || rows.back().status == "allTimeout");
      },
      limit);
  return recorder->Rows();
}

long long MsSince(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

// Port 0 trickles two bytes a second (the low-speed rule of one byte a second never fires);
// port 1 is healthy.
TEST(FailoverMirrors, TricklingMirrorCostsOneAttemptTimeOut) {
  NginxServer nginx(R"(
    server { listen 127.0.0.1:@PORT0@; root @ROOT@; limit_rate 2; }
    server { listen 127.0.0.1:@PORT1@; root @ROOT@; }
  )",
                    2);
  ASSERT_TRUE(nginx.Started()) << nginx.ErrorLog();
  Publish(nginx);
  auto recorder = std::make_shared<Recorder>();
  const auto started = Clock::now();
  // The first attempt goes to the second URL: the trickling one.
  RequestWithFailover(
      {nginx.Url(1, kPath), nginx.Url(0, kPath)},
      [recorder](const std::string& status, const std::string& text) {
        recorder->Add({status, text, "", 0, 0, {}});
      },
      MirrorTimings());
  const std::vector<Row> rows = WaitForFinal(recorder, 5s);
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ("succ", rows.back().status);
  EXPECT_EQ(kDocument, rows.back().first);
  EXPECT_GE(MsSince(started, rows.back().at), 50 + 500);
  EXPECT_LT(MsSince(started, rows.back().at), 2000);
  EXPECT_EQ(1, nginx.RequestCount(1, kPath));
  EXPECT_EQ(1, nginx.WaitForRequests(0, kPath, 1));
}

}  // namespace
}  // namespace updatetest

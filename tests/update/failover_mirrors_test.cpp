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

// A missing document (404), a refused one (403) and a struggling server (503), as nginx's
// return and error_page give them: every URL backs off on its own, so each gets a few attempts
// per budget rather than one per poll, the budget still ends in "allTimeout", and every
// attempt's real status is written out.
TEST(FailoverMirrors, ErrorStatusesBackOffPerMirrorAndAreWrittenOut) {
  NginxServer nginx(R"(
    server { listen 127.0.0.1:@PORT0@; root @ROOT@; location / { return 404; } }
    server { listen 127.0.0.1:@PORT1@; root @ROOT@; location / { return 403; } }
    server { listen 127.0.0.1:@PORT2@; root @ROOT@; error_page 404 =503 /busy.html;
             location = /busy.html { internal; return 503; } }
  )",
                    3);
  ASSERT_TRUE(nginx.Started()) << nginx.ErrorLog();
  FailoverSettings timings = MirrorTimings();
  timings.allTimeoutMs = 1200;
  auto recorder = std::make_shared<Recorder>();
  ::testing::internal::CaptureStdout();
  const auto started = Clock::now();
  RequestWithFailover(
      {nginx.Url(0, kPath), nginx.Url(1, kPath), nginx.Url(2, kPath)},
      [recorder](const std::string& status, const std::string& text) {
        recorder->Add({status, text, "", 0, 0, {}});
      },
      timings);
  const std::vector<Row> rows = WaitForFinal(recorder, 5s);
  const long long tookMs = MsSince(started, rows.empty() ? Clock::now() : rows.back().at);
  const std::string output = ::testing::internal::GetCapturedStdout();
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ("allTimeout", rows.back().status);
  EXPECT_GE(tookMs, 50 + 1200);
  EXPECT_LT(tookMs, 3000);
  // Doubling from 10 ms up to 300 ms within 1200 ms: 8 attempts each; one per poll would be
  // about 40 each.
  for (int port = 0; port < 3; ++port) {
    const int count = nginx.RequestCount(port);  // the 503 is logged under its error page
    EXPECT_GE(count, 4) << "port " << port;
    EXPECT_LE(count, 9) << "port " << port;
    std::printf("port %d: %d requests in %lld ms\n", port, count, tookMs);
  }
  for (const char* status : {"ret_code is 404", "ret_code is 403", "ret_code is 503"}) {
    EXPECT_NE(output.find(std::string("failed: curl perform fail, ") + status), std::string::npos) << status;
  }
  EXPECT_NE(output.find("next attempt there in 20 ms"), std::string::npos) << output.substr(0, 2000);
}

}  // namespace
}  // namespace updatetest

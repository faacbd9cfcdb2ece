// The failover against real content servers on 127.0.0.1: rotation, one attempt at a time,
// the budget, and what reaches the caller.
#include "update/failover.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "content_server.h"
#include "hung_listener.h"
#include "test_helpers.h"

namespace updatetest {
namespace {

using testsupport::ContentServer;
using testsupport::Fault;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kPath = "MorvanePC1/config.json";

// Budget of 40 polls of 10 ms: "allTimeout" on the pass where 410 ms of pauses have passed.
FailoverSettings ScaledTimings() {
  FailoverSettings timings;
  timings.initialDelayMs = 50;
  timings.pollIntervalMs = 10;
  timings.allTimeoutMs = 400;
  return timings;
}

FailoverCallback RecordInto(const std::shared_ptr<Recorder>& recorder) {
  return [recorder](const std::string& status, const std::string& text) {
    recorder->Add({status, text, "", 0, 0, {}});
  };
}

std::vector<std::string> Statuses(const std::vector<Row>& rows) {
  std::vector<std::string> statuses;
  for (const Row& row : rows) statuses.push_back(row.status);
  return statuses;
}

// Waits until the last row is a final one ("succ" or "allTimeout"), then a little longer so
// that anything delivered after it would be seen.
std::vector<Row> WaitForEnd(const std::shared_ptr<Recorder>& recorder, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    const std::vector<Row> rows = recorder->Rows();
    if (!rows.empty() && (rows.back().status == "succ" || rows.back().status == "allTimeout")) break;
    if (Clock::now() > deadline) break;
    std::this_thread::sleep_for(5ms);
  }
  std::this_thread::sleep_for(150ms);
  return recorder->Rows();
}

long long MsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

TEST(Failover, EmptyListFailsAtOnceOnTheCallingThread) {
  auto recorder = std::make_shared<Recorder>();
  std::thread::id caller;
  RequestWithFailover({}, [&](const std::string& status, const std::string& text) {
    caller = std::this_thread::get_id();
    recorder->Add({status, text, "", 0, 0, {}});
  });
  ASSERT_EQ(1u, recorder->Rows().size());
  EXPECT_EQ("fail", recorder->Rows()[0].status);
  EXPECT_EQ("urls invalid", recorder->Rows()[0].first);
  EXPECT_EQ(std::this_thread::get_id(), caller);
}

TEST(Failover, FirstAnswerEndsIt) {
  ContentServer server;
  server.AddFile(kPath, R"({"lastVersion":"1.0.0"})");
  auto recorder = std::make_shared<Recorder>();
  const auto started = Clock::now();
  RequestWithFailover({server.Url(kPath + "?rand=5")}, RecordInto(recorder), ScaledTimings());
  const std::vector<Row> rows = WaitForEnd(recorder, 5s);
  ASSERT_EQ((std::vector<std::string>{"succ"}), Statuses(rows));
  EXPECT_EQ(R"({"lastVersion":"1.0.0"})", rows[0].first);
  EXPECT_GE(MsBetween(started, rows[0].at), 50);  // after the initial pause
  ASSERT_EQ(1, server.RequestCount(kPath));
  EXPECT_EQ("rand=5", server.LogFor(kPath)[0].query);
}

TEST(Failover, NotFoundEverywhereSpendsTheBudget) {
  ContentServer server;
  server.SetFault(kPath, Fault::Status(404));
  auto recorder = std::make_shared<Recorder>();
  const auto started = Clock::now();
  RequestWithFailover({server.Url(kPath)}, RecordInto(recorder), ScaledTimings());
  const std::vector<Row> rows = WaitForEnd(recorder, 10s);
  ASSERT_FALSE(rows.empty());
  // 404 is a failed attempt the request layer calls "error": it is not passed on.
  EXPECT_EQ((std::vector<std::string>{"allTimeout"}), Statuses(rows));
  EXPECT_EQ("urls invalid", rows.back().first);
  // 50 ms, then 41 pauses of 10 ms; sleeping only adds to that.
  EXPECT_GE(MsBetween(started, rows.back().at), 460);
  EXPECT_LT(MsBetween(started, rows.back().at), 5000);
  EXPECT_GE(server.RequestCount(kPath), 3);
  // One attempt at a time: every request finished before the next started, so at most one per poll.
  EXPECT_LE(server.RequestCount(kPath), 42);
}

TEST(Failover, RequestTimeoutIsReportedPerAttempt) {
  ContentServer server;
  server.SetFault(kPath, Fault::Status(408, "slow"));
  auto recorder = std::make_shared<Recorder>();
  RequestWithFailover({server.Url(kPath)}, RecordInto(recorder), ScaledTimings());
  const std::vector<Row> rows = WaitForEnd(recorder, 10s);
  ASSERT_GE(rows.size(), 3u);
  for (std::size_t i = 0; i + 1 < rows.size(); ++i) {
    EXPECT_EQ("onTimeout", rows[i].status);
    EXPECT_NE(std::string::npos, rows[i].first.find("408")) << rows[i].first;
  }
  EXPECT_EQ("allTimeout", rows.back().status);
  EXPECT_EQ(static_cast<int>(rows.size()) - 1, server.RequestCount(kPath));
}

TEST(Failover, ServerErrorIsReportedAsNothingButTheBudget) {
  ContentServer server;
  server.SetFault(kPath, Fault::Status(500));
  auto recorder = std::make_shared<Recorder>();
  RequestWithFailover({server.Url(kPath)}, RecordInto(recorder), ScaledTimings());
  EXPECT_EQ((std::vector<std::string>{"allTimeout"}), Statuses(WaitForEnd(recorder, 10s)));
}

TEST(Failover, RotatesOverTheUrlsStartingAtTheSecond) {
  ContentServer first;
  ContentServer second;
  ContentServer third;
  for (ContentServer* server : {&first, &second, &third}) server->SetFault(kPath, Fault::Status(404));
  auto recorder = std::make_shared<Recorder>();
  RequestWithFailover({first.Url(kPath), second.Url(kPath), third.Url(kPath)}, RecordInto(recorder), ScaledTimings());
  WaitForEnd(recorder, 10s);
  const int a = first.RequestCount(kPath);
  const int b = second.RequestCount(kPath);
  const int c = third.RequestCount(kPath);
  ASSERT_GE(a + b + c, 4);
  // second, third, first, second, ...: the second has the most, then the third, then the first.
  EXPECT_GE(b, c);
  EXPECT_GE(c, a);
  EXPECT_LE(b - a, 1);
}

TEST(Failover, TwoUrlsAlternateAndTheFirstToAnswerWins) {
  ContentServer first;
  ContentServer second;
  first.AddFile(kPath, "{}");
  second.SetFault(kPath, Fault::Status(404));
  auto recorder = std::make_shared<Recorder>();
  RequestWithFailover({first.Url(kPath), second.Url(kPath)}, RecordInto(recorder), ScaledTimings());
  EXPECT_EQ((std::vector<std::string>{"succ"}), Statuses(WaitForEnd(recorder, 5s)));
  EXPECT_EQ(1, second.RequestCount(kPath));  // tried first
  EXPECT_EQ(1, first.RequestCount(kPath));
}

TEST(Failover, LateSuccessWithinTheBudgetWins) {
  ContentServer server;
  server.AddFile(kPath, "{}");
  server.SetFault(kPath, Fault::Status(404));
  auto recorder = std::make_shared<Recorder>();
  FailoverSettings timings = ScaledTimings();
  timings.allTimeoutMs = 1000;
  RequestWithFailover({server.Url(kPath)}, RecordInto(recorder), timings);
  // The server recovers when at most 650 of the 1000 ms of pauses have passed.
  std::this_thread::sleep_for(700ms);
  server.ClearFault(kPath);
  const std::vector<Row> rows = WaitForEnd(recorder, 5s);
  EXPECT_EQ((std::vector<std::string>{"succ"}), Statuses(rows));
}

TEST(Failover, HangingAttemptBlocksOthersUntilTheBudgetIsSpent) {
  // A listener that never accepts: the connection completes in the kernel and no answer comes.
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(0, ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address));
  ASSERT_EQ(0, ::listen(listener, 8));
  socklen_t length = sizeof address;
  ASSERT_EQ(0, ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length));
  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/" + kPath;

  auto recorder = std::make_shared<Recorder>();
  RequestWithFailover({url}, RecordInto(recorder), ScaledTimings());
  EXPECT_EQ((std::vector<std::string>{"allTimeout"}), Statuses(WaitForEnd(recorder, 5s)));
  // Exactly one connection is waiting: no second attempt started while the first hung.
  ASSERT_EQ(0, ::fcntl(listener, F_SETFL, ::fcntl(listener, F_GETFL) | O_NONBLOCK));
  int connections = 0;
  for (;;) {
    const int accepted = ::accept(listener, nullptr, nullptr);
    if (accepted < 0) break;
    ++connections;
    ::close(accepted);
  }
  EXPECT_EQ(1, connections);
  ::close(listener);
  // The attempt now fails (connection closed): that late report is dropped.
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(1u, recorder->Rows().size());
}

TEST(Failover, SuccessAfterTheBudgetIsDropped) {
  ContentServer server;
  server.AddFile(kPath, R"({"late":true})");
  server.SetFault(kPath, Fault::StallAfter(2, 1200ms));
  auto recorder = std::make_shared<Recorder>();
  RequestWithFailover({server.Url(kPath)}, RecordInto(recorder), ScaledTimings());
  EXPECT_EQ((std::vector<std::string>{"allTimeout"}), Statuses(WaitForEnd(recorder, 5s)));
  // The stalled answer completes after the budget: it reaches nobody.
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ((std::vector<std::string>{"allTimeout"}), Statuses(recorder->Rows()));
  EXPECT_EQ(1, server.RequestCount(kPath));
}

// Each attempt is bounded by the attempt time-out, so a mirror whose connections hang costs one
// time-out and the next mirror answers well within the budget.
TEST(Failover, HangingMirrorCostsOneAttemptTimeOutThenTheNextAnswers) {
  testsupport::HungListener hung;
  ASSERT_NE(hung.Port(), 0);
  ContentServer healthy;
  healthy.AddFile(kPath, "{}");
  FailoverSettings timings = ScaledTimings();
  timings.allTimeoutMs = 3000;
  timings.attemptTimeout = 300;
  auto recorder = std::make_shared<Recorder>();
  const auto started = Clock::now();
  // The first attempt goes to the second URL: the hanging one.
  RequestWithFailover({healthy.Url(kPath), hung.BaseUrl() + kPath}, RecordInto(recorder), timings);
  const std::vector<Row> rows = WaitForEnd(recorder, 5s);
  ASSERT_EQ((std::vector<std::string>{"succ"}), Statuses(rows));
  EXPECT_GE(MsBetween(started, rows[0].at), 50 + 300);
  EXPECT_LT(MsBetween(started, rows[0].at), 1500);
  EXPECT_EQ(1, healthy.RequestCount(kPath));
}

}  // namespace
}  // namespace updatetest

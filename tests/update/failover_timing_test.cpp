// The failover at its production timings: the budget is spent about 12.6 s after the call.
#include <gtest/gtest.h>

#include <thread>

#include "content_server.h"
#include "test_helpers.h"
#include "update/failover.h"

namespace updatetest {
namespace {

using testsupport::ContentServer;
using testsupport::Fault;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kPath = "MorvanePC1/config.json";

TEST(FailoverRealTiming, BudgetIsSpentAfterTwelveAndAHalfSeconds) {
  ContentServer server;
  server.SetFault(kPath, Fault::Status(404));
  auto recorder = std::make_shared<Recorder>();
  const auto started = Clock::now();
  RequestWithFailover({server.Url(kPath)}, [recorder](const std::string& status, const std::string& text) {
    recorder->Add({status, text, "", 0, 0, {}});
  });
  ASSERT_TRUE(recorder->WaitFor(1, 20s));
  std::this_thread::sleep_for(200ms);
  const std::vector<Row> rows = recorder->Rows();
  ASSERT_EQ(std::string("allTimeout"), rows.size() == 1 ? rows[0].status : "more than one row");
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(rows[0].at - started).count(), 12600);
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(rows[0].at - started).count(), 15000);
  // The first attempt 500 ms after the call, then waits doubling from 100 ms up to 3 s: the
  // attempts start at 0, 0.1, 0.3, 0.7, 1.5, 3.1, 6.1 and 9.1 s of the budget.
  EXPECT_GE(server.RequestCount(kPath), 6);
  EXPECT_LE(server.RequestCount(kPath), 9);
}

}  // namespace
}  // namespace updatetest

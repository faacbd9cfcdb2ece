// Document requests through the real libcurl code against the in-process content server.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "net/http_util.h"
#include "tests/net/transfer_recorder.h"
#include "tests/support/content_server.h"
#include "tests/support/hung_listener.h"

using testsupport::ContentServer;
using testsupport::Fault;
using testsupport::NoLengthKind;

namespace {

const char* const kConfig = R"({"lastVersion":"1.2.3","unsupportedVersions":["1.0.*"]})";

class RequestTest : public ::testing::Test {
 protected:
  void SetUp() override { server_.AddFile("MorvanePC1/config.json", kConfig); }

  std::string Request(const std::string& url, long timeoutMs = 6000) {
    ::testing::internal::CaptureStdout();
    HttpUtil::Request(url, "", recorder_.Callback(), timeoutMs);
    return ::testing::internal::GetCapturedStdout();
  }

  TransferCall OnlyFinal() const {
    const auto finals = recorder_.Finals();
    EXPECT_EQ(finals.size(), 1u);
    EXPECT_TRUE(recorder_.FinalIsLast());
    return finals.empty() ? TransferCall{} : finals.back();
  }

  void ExpectFailure(const char* status, int code, const std::string& curlText) {
    const auto final = OnlyFinal();
    EXPECT_EQ(final.status, status);
    EXPECT_EQ(final.payload, "curl perform fail, ret_code is " + std::to_string(code) + " (" + curlText + ")");
    EXPECT_EQ(final.first, 0);
    EXPECT_EQ(final.second, 0);
  }

  ContentServer server_;
  TransferRecorder recorder_;
};

TEST_F(RequestTest, Status200HandsTheBodyToSuccWithQueryAndHeaderAsSent) {
  const std::string url = server_.Url("MorvanePC1/config.json?rand=4711");
  const std::string out = Request(url);

  const auto final = OnlyFinal();
  EXPECT_EQ(final.status, "succ");
  EXPECT_EQ(final.payload, kConfig);
  EXPECT_EQ(final.first, 0);
  EXPECT_EQ(final.second, 0);
  EXPECT_EQ(out, std::string("curlcode = 0, ret_code = 200\n") + "http post succ to " + url + " with , response is " +
                     kConfig + "\n\n");

  const auto log = server_.LogFor("MorvanePC1/config.json");
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].method, "GET");
  EXPECT_EQ(log[0].query, "rand=4711");
  EXPECT_EQ(log[0].connection, "close");
}

TEST_F(RequestTest, ProgressIsReportedWhileTheLengthIsKnown) {
  const std::string document = PatternBytes(512 * 1024);
  server_.AddFile("big.json", document);
  Request(server_.Url("big.json"));
  EXPECT_TRUE(SameBytes(OnlyFinal().payload, document));
  const auto progress = recorder_.Progress();
  ASSERT_FALSE(progress.empty());
  for (const auto& call : progress) {
    EXPECT_EQ(call.status, "trans");
    EXPECT_EQ(call.second, static_cast<double>(document.size()));
  }

  recorder_.Reset();
  server_.SetFault("big.json", Fault::NoLength(NoLengthKind::kChunked));
  Request(server_.Url("big.json"));
  EXPECT_TRUE(recorder_.Progress().empty());
  EXPECT_TRUE(SameBytes(OnlyFinal().payload, document));
}

TEST_F(RequestTest, Status404IsErrorWithLibcurlsNoErrorText) {
  const std::string url = server_.Url("MorvanePC1/fileInfo_9_9_9.json?rand=1");
  const std::string out = Request(url);
  ExpectFailure("error", 404, "No error");
  EXPECT_EQ(out,
            "curlcode = 0, ret_code = 404\ncurl perform fail to " + url + " with , ret_code is 404 (No error)\n\n");
}

TEST_F(RequestTest, Status408IsTimeoutAndOtherStatusesAreErrors) {
  server_.SetFault("MorvanePC1/config.json", Fault::Status(408));
  Request(server_.Url("MorvanePC1/config.json"));
  ExpectFailure("timeout", 408, "No error");

  recorder_.Reset();
  server_.SetFault("MorvanePC1/config.json", Fault::Status(500, "oops"));
  Request(server_.Url("MorvanePC1/config.json"));
  ExpectFailure("error", 500, "No error");
}

TEST_F(RequestTest, RedirectIsFollowedAndTheFinalAnswerDecides) {
  server_.SetFault("old/config.json", Fault::Redirect("MorvanePC1/config.json"));
  Request(server_.Url("old/config.json"));
  EXPECT_EQ(OnlyFinal().status, "succ");
  EXPECT_EQ(OnlyFinal().payload, kConfig);

  recorder_.Reset();
  server_.SetFault("gone.json", Fault::Redirect("nowhere.json"));
  Request(server_.Url("gone.json"));
  ExpectFailure("error", 404, "No error");

  recorder_.Reset();
  server_.SetFault("loop.json", Fault::Redirect("loop.json"));
  Request(server_.Url("loop.json"));
  ExpectFailure("error", 302, "Number of redirects hit maximum amount");
}

// A 200 status line is no document until its body has arrived whole.
TEST_F(RequestTest, BodyCutOffOrTooSlowAfterStatus200IsAnError) {
  server_.SetFault("MorvanePC1/config.json", Fault::CloseAfter(10));
  const std::string out = Request(server_.Url("MorvanePC1/config.json"));
  ExpectFailure("error", 200, "Transferred a partial file");
  EXPECT_EQ(out.rfind("curlcode = 18, ret_code = 200\n", 0), 0u) << out;

  // Two bytes a second pass the low-speed rule; the request's time limit ends it.
  recorder_.Reset();
  server_.SetFault("MorvanePC1/config.json", Fault::Trickle(std::chrono::milliseconds(500)));
  const auto started = std::chrono::steady_clock::now();
  Request(server_.Url("MorvanePC1/config.json"), 1200);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
  ExpectFailure("error", 200, "Timeout was reached");
}

TEST_F(RequestTest, NoServerIsErrorWithStatusZero) {
  const std::string url = server_.Url("MorvanePC1/config.json");
  server_.Stop();
  Request(url);
  ExpectFailure("error", 0, "Couldn't connect to server");
}

// Takes about five seconds: a server that accepts the connection but never answers is ended by
// the low-speed rule, not by the (long) connect time-out.
TEST(RequestWithoutAnswerTest, SilentServerIsErrorWithStatusZeroAfterTheLowSpeedRule) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 4), 0);  // connections complete in the backlog; nothing is ever read
  socklen_t length = sizeof address;
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/MorvanePC1/config.json";

  TransferRecorder recorder;
  const auto started = std::chrono::steady_clock::now();
  ::testing::internal::CaptureStdout();
  HttpUtil::Request(url, "", recorder.Callback(), 6000);
  const std::string out = ::testing::internal::GetCapturedStdout();
  const auto elapsed = std::chrono::steady_clock::now() - started;
  ::close(listener);

  const auto finals = recorder.Finals();
  ASSERT_EQ(finals.size(), 1u);
  EXPECT_EQ(finals[0].status, "error");
  EXPECT_EQ(finals[0].payload.rfind("curl perform fail, ret_code is 0 (Timeout was reached)", 0), 0u);
  EXPECT_EQ(out.rfind("curlcode = 28, ret_code = 0\n", 0), 0u);
  EXPECT_GE(elapsed, std::chrono::seconds(4));
  EXPECT_LT(elapsed, std::chrono::seconds(20));
}

// The time limit bounds the whole request, the connection included: a mirror whose connections
// hang must cost a failover no more than one attempt's limit.
TEST_F(RequestTest, ConnectionThatNeverCompletesEndsAtTheTimeLimit) {
  testsupport::HungListener hung;
  ASSERT_NE(hung.Port(), 0);
  const auto started = std::chrono::steady_clock::now();
  const std::string out = Request(hung.BaseUrl() + "MorvanePC1/config.json", 400);
  const auto elapsed = std::chrono::steady_clock::now() - started;

  ExpectFailure("error", 0, "Timeout was reached");
  EXPECT_EQ(out.rfind("curlcode = 28, ret_code = 0\n", 0), 0u) << out;
  EXPECT_GE(elapsed, std::chrono::milliseconds(380));
  EXPECT_LT(elapsed, std::chrono::milliseconds(2500));
}

}  // namespace

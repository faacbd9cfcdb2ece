// The local content server over real HTTP on 127.0.0.1.
#include "tools/serve/static_server.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

namespace serve {
namespace {
namespace fs = std::filesystem;

constexpr std::size_t kArchiveSize = 300000;

class StaticServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("static_server_test_" + std::to_string(getpid()));
    fs::create_directories(root_ / "MorvanePC1");
    for (std::size_t i = 0; i < kArchiveSize; ++i) archive_ += static_cast<char>('a' + i % 26);
    std::ofstream(root_ / "MorvanePC1" / "res_1_0_0.zip", std::ios::binary) << archive_;
    std::ofstream(root_ / "MorvanePC1" / "config.json") << R"({"lastVersion":"1.0.0"})";
    std::ofstream(root_ / "MorvanePC1" / "empty.bin");
    server_ = std::make_unique<StaticServer>(root_, [this](const RequestLogLine& line) {
      std::lock_guard<std::mutex> lock(mutex_);
      log_.push_back(line);
    });
    port_ = server_->Bind(0);
    server_->Start();
  }
  void TearDown() override {
    server_.reset();
    fs::remove_all(root_);
  }

  // The log once it holds `count` lines (answers are logged when the server lets go of them).
  std::vector<RequestLogLine> WaitForLog(std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (log_.size() >= count) return log_;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
  }

  // The formatted lines; a line is written once its answer is sent, so two quick requests on
  // different connections may be logged in either order.
  std::vector<std::string> LogLines(std::size_t count) {
    std::vector<std::string> lines;
    for (const auto& line : WaitForLog(count)) lines.push_back(FormatLogLine(line));
    std::sort(lines.begin(), lines.end());
    return lines;
  }

  httplib::Client Client() { return httplib::Client("127.0.0.1", port_); }

  fs::path root_;
  std::string archive_;
  std::unique_ptr<StaticServer> server_;
  int port_ = 0;
  std::mutex mutex_;
  std::vector<RequestLogLine> log_;
};

TEST_F(StaticServerTest, ServesWholeFilesAndRangesWithTheirLengths) {
  auto client = Client();
  const auto whole = client.Get("/MorvanePC1/config.json?rand=123");
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->status, 200);
  EXPECT_EQ(whole->body, R"({"lastVersion":"1.0.0"})");
  EXPECT_EQ(whole->get_header_value("Content-Type"), "application/json");

  const auto part = client.Get("/MorvanePC1/res_1_0_0.zip", {{"Range", "bytes=1000-"}});
  ASSERT_TRUE(part);
  EXPECT_EQ(part->status, 206);
  EXPECT_EQ(part->get_header_value("Content-Length"), std::to_string(kArchiveSize - 1000));
  EXPECT_EQ(part->get_header_value("Content-Range"), "bytes 1000-299999/300000");
  EXPECT_EQ(part->body, archive_.substr(1000));

  const auto beyond = client.Get("/MorvanePC1/res_1_0_0.zip", {{"Range", "bytes=300000-"}});
  ASSERT_TRUE(beyond);
  EXPECT_EQ(beyond->status, 416);
  EXPECT_EQ(beyond->get_header_value("Content-Range"), "bytes */300000");

  const auto empty = client.Get("/MorvanePC1/empty.bin");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->status, 200);
  EXPECT_EQ(empty->get_header_value("Content-Length"), "0");

  EXPECT_EQ(LogLines(4), (std::vector<std::string>{
                             "GET /MorvanePC1/config.json?rand=123 range=- 200 23",
                             "GET /MorvanePC1/empty.bin range=- 200 0",
                             "GET /MorvanePC1/res_1_0_0.zip range=bytes=1000- 206 299000",
                             "GET /MorvanePC1/res_1_0_0.zip range=bytes=300000- 416 0",
                         }));
}

TEST_F(StaticServerTest, CutAnswerDropsTheConnectionOnceAndIsLoggedWithTheBytesSent) {
  server_->CutNextAnswer("/MorvanePC1/res_1_0_0.zip", 100000);
  auto client = Client();
  std::string received;
  const auto cut = client.Get("/MorvanePC1/res_1_0_0.zip", [&](const char* data, size_t length) {
    received.append(data, length);
    return true;
  });
  EXPECT_FALSE(cut && received.size() == kArchiveSize);
  EXPECT_EQ(received.size(), 100000u);
  EXPECT_EQ(received, archive_.substr(0, 100000));

  const auto resumed = Client().Get("/MorvanePC1/res_1_0_0.zip", {{"Range", "bytes=100000-"}});
  ASSERT_TRUE(resumed);
  EXPECT_EQ(resumed->status, 206);
  EXPECT_EQ(received + resumed->body, archive_);

  EXPECT_EQ(LogLines(2), (std::vector<std::string>{
                             "GET /MorvanePC1/res_1_0_0.zip range=- 200 100000",
                             "GET /MorvanePC1/res_1_0_0.zip range=bytes=100000- 206 200000",
                         }));
}

TEST_F(StaticServerTest, NothingOutsideTheFolderAndNoBodyForHead) {
  std::ofstream(root_.parent_path() / ("outside_" + std::to_string(getpid()))) << "secret";
  auto client = Client();
  const auto outside = client.Get(("/../outside_" + std::to_string(getpid())).c_str());
  ASSERT_TRUE(outside);
  EXPECT_NE(outside->status, 200);
  EXPECT_EQ(outside->body.find("secret"), std::string::npos);
  fs::remove(root_.parent_path() / ("outside_" + std::to_string(getpid())));

  const auto missing = client.Get("/MorvanePC1/fileInfo_9_9_9.json");
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->status, 404);

  const auto head = client.Head("/MorvanePC1/res_1_0_0.zip");
  ASSERT_TRUE(head);
  EXPECT_EQ(head->status, 200);
  EXPECT_EQ(head->get_header_value("Content-Length"), std::to_string(kArchiveSize));
  const auto lines = LogLines(3);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "HEAD /MorvanePC1/res_1_0_0.zip range=- 200 0"), lines.end());
}

TEST_F(StaticServerTest, ABusyPortIsReportedAndStopIsIdempotent) {
  StaticServer second(root_, nullptr);
  EXPECT_THROW(second.Bind(port_), std::runtime_error);
  server_->Stop();
  server_->Stop();
  EXPECT_FALSE(Client().Get("/MorvanePC1/config.json"));
}

}  // namespace
}  // namespace serve

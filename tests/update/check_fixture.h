// A Check in a scratch working folder with its data folder, a download record set per test and
// a short failover budget.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/settings.h"
#include "net/download_record.h"
#include "test_helpers.h"
#include "ui/splash_state.h"
#include "update/check.h"
#include "update/record_keys.h"

namespace updatetest {

// Fast failover timings: the same shape as production, a fraction of the time.
inline FailoverSettings FastFailover() {
  FailoverSettings timings;
  timings.initialDelayMs = 20;
  timings.pollIntervalMs = 10;
  timings.allTimeoutMs = 300;
  return timings;
}

class CheckTest : public ::testing::Test {
 protected:
  CheckTest() {
    std::filesystem::create_directories(settings::dataFolder);
    SetRecord("", "");
  }

  // The record is process-wide and outlives each test's folder, so every test sets all its keys.
  static void SetRecord(const std::string& zipName, const std::string& zipMd5, const std::string& extracting = "",
                        const std::string& replaced = "") {
    DownloadRecord::Set(record_key::kZipName, zipName);
    DownloadRecord::Set(record_key::kZipMd5, zipMd5);
    DownloadRecord::Set(record_key::kExtracting, extracting);
    DownloadRecord::Set(record_key::kReplaced, replaced);
  }

  std::unique_ptr<Check> MakeCheck(std::vector<std::string> baseUrls = {}, std::uint64_t nowMs = 0) {
    CheckOptions options;
    options.baseUrls = std::move(baseUrls);
    options.failover = FastFailover();
    options.splash = &splash_;
    if (nowMs != 0) options.nowMs = [nowMs] { return nowMs; };
    return std::make_unique<Check>(std::move(options));
  }

  // A callback that records into `recorder`; it holds the recorder, never the test.
  static ResultCallback RecordInto(const std::shared_ptr<Recorder>& recorder) {
    return [recorder](const std::string& status, const std::string& first, const std::string& second, std::int64_t size,
                      std::int64_t offset) {
      recorder->Add({status, first, second, size, offset, {}});
    };
  }

  // Evaluates on this thread and returns the one row.
  Row EvaluateNow(Check& check, const std::string& fileInfo) {
    auto recorder = std::make_shared<Recorder>();
    check.Evaluate(fileInfo, RecordInto(recorder));
    const std::vector<Row> rows = recorder->Rows();
    EXPECT_EQ(1u, rows.size());
    return rows.empty() ? Row{} : rows.front();
  }

  ScratchWorkingFolder folder_;
  SplashState splash_;
};

}  // namespace updatetest

// The launcher's extraction stage: a detached worker, and the record's "under way" mark.
#include "app/zip_package_extractor.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "app/settings.h"
#include "net/download_record.h"
#include "tests/package/unzip_sandbox.h"
#include "tests/package/zip_builder.h"
#include "update/record_keys.h"

namespace {

// Runs in its own executable: the record's path is relative to the working folder.
class ZipPackageExtractorTest : public UnzipSandbox {
 protected:
  void SetUp() override {
    UnzipSandbox::SetUp();
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(root());
    std::filesystem::create_directories(settings::dataFolder);
    DownloadRecord::Load();
  }
  void TearDown() override {
    std::filesystem::current_path(previous_);
    UnzipSandbox::TearDown();
  }

  // Starts the extraction of package.zip into the data folder and waits for its last call.
  void RunToTheEnd() {
    ZipPackageExtractor extractor;
    extractor.Start(
        UnzipTask{"package.zip", settings::dataFolder,
                  [this](const std::string& status, const std::string& payload, long long done, long long total) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    seen_.push_back({status, payload, done, total});
                    markWhileRunning_.push_back(DownloadRecord::Get(record_key::kExtracting));
                    workerThread_ = std::this_thread::get_id();
                    if (status != "unzip") {
                      finished_ = true;
                      done_.notify_all();
                    }
                  }});
    std::unique_lock<std::mutex> lock(mutex_);
    ASSERT_TRUE(done_.wait_for(lock, std::chrono::seconds(20), [this] { return finished_; }));
  }

  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  std::vector<UnzipCall> seen_;
  std::vector<std::string> markWhileRunning_;
  std::thread::id workerThread_;

 private:
  std::filesystem::path previous_;
};

TEST_F(ZipPackageExtractorTest, ExtractsOnAWorkerAndClearsTheMarkOnSuccess) {
  ZipBuilder zip(root() / "package.zip");
  zip.Add("game/kolv.exe", "binary", EntryOptions::Unix(0100755));
  zip.Close();

  RunToTheEnd();
  EXPECT_NE(workerThread_, std::this_thread::get_id());
  // The entry unpacked into the staging folder, then its folder and file committed into place.
  EXPECT_EQ(seen_, (std::vector<UnzipCall>{{"unzip", "game/kolv.exe", 1, 1},
                                           {"unzip", "game", 1, 2},
                                           {"unzip", "game/kolv.exe", 2, 2},
                                           {"succ", "", 1, 1}}));
  for (std::size_t at = 0; at + 1 < markWhileRunning_.size(); ++at) {
    EXPECT_EQ(markWhileRunning_[at], "package.zip") << at;  // held until the last file is in place
  }
  EXPECT_EQ(markWhileRunning_.back(), "");  // cleared before "succ" is handed on
  EXPECT_EQ(Read(settings::dataFolder + "/game/kolv.exe"), "binary");
  DownloadRecord::Load();
  EXPECT_EQ(DownloadRecord::Get(record_key::kExtracting), "");
}

TEST_F(ZipPackageExtractorTest, FailedExtractionLeavesTheMarkForTheNextRun) {
  ZipBuilder zip(root() / "package.zip");
  zip.Add("ok.txt", "fine");
  zip.Add("../outside.txt", "refused");
  zip.Close();

  RunToTheEnd();
  EXPECT_EQ(seen_.back(), (UnzipCall{"fail", "extract file fail: ../outside.txt", 1, 2}));
  DownloadRecord::Load();  // as the next run reads it
  EXPECT_EQ(DownloadRecord::Get(record_key::kExtracting), "package.zip");
}

}  // namespace

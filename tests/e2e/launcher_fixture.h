// A scratch world for running the real launcher: a content folder published with the real
// publishing code, the local content server on the port the test launcher was built for, an
// empty working folder, and the demo game as the game build.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/child_process.h"
#include "tools/serve/static_server.h"

namespace e2e {

namespace fs = std::filesystem;

// One start of the demo game, as it recorded it.
struct GameRun {
  std::string cwd;
  std::vector<std::string> args;
};

struct LauncherRun {
  std::optional<int> exitCode;  // empty when it did not end in time
  std::string output;           // standard output and error together
  std::chrono::milliseconds elapsed{0};
  long peakResidentKiB = 0;
};

class LauncherFixture : public ::testing::Test {
 protected:
  static constexpr const char* kChannel = "MorvanePC1";
  static constexpr const char* kDataFolder = "Tessarine_MorvanePC1";
  static constexpr const char* kGameExe = "kolv.exe";
  static constexpr std::uint64_t kAssetBytes = 3 * 1024 * 1024;

  void SetUp() override;
  void TearDown() override;

  // A game build: the demo game, a marker file holding the version, and incompressible assets so
  // that the archive is a few megabytes.
  fs::path MakeGameBuild(const std::string& version);
  // Publishes the build of `version` into the content folder; returns the archive's MD5.
  std::string Publish(const std::string& version, const std::vector<std::string>& unsupported = {});
  void StartServer();
  void StopServer();
  serve::StaticServer& Server() { return *server_; }

  // What a launcher prints when another one holds the single-instance guard.
  static constexpr const char* kAnotherLauncherRunning = "another launcher is running";

  // Starts the launcher in the working folder without a display.
  std::unique_ptr<ChildProcess> StartLauncherOnce(const std::vector<std::string>& args);
  // The same, but waits out a launcher of another test that holds the single-instance guard.
  std::unique_ptr<ChildProcess> StartLauncher(const std::vector<std::string>& args);
  // Runs the launcher to its end with the dialogs' answers given up front (then end of input).
  LauncherRun RunLauncher(const std::vector<std::string>& args, const std::string& answers = "",
                          std::chrono::seconds timeout = std::chrono::seconds(40));

  // The game's starts recorded in the data folder, waiting a moment for the last one to appear.
  std::vector<GameRun> GameRuns(std::size_t expected);
  // Server log lines (formatted) of requests whose target starts with `prefix`.
  std::vector<std::string> LogFor(const std::string& prefix);
  // The same, only the requests for the whole archive or its rest from an offset ("range=-",
  // "range=bytes=N-"), not those for a closed range of it (an update by files).
  std::vector<std::string> WholeArchiveLogFor(const std::string& prefix);
  void ClearLog();

  fs::path DataFolder() const { return work_ / kDataFolder; }
  fs::path DownloadFolder() const { return work_ / kChannel; }
  fs::path ContentChannel() const { return content_ / kChannel; }
  static std::string ReadText(const fs::path& file);
  static void WriteText(const fs::path& file, const std::string& text);

  fs::path root_, content_, work_;
  // Set: Publish() signs each release with this secret-key file.
  std::optional<fs::path> signKey_;

 private:
  std::unique_ptr<serve::StaticServer> server_;
  std::mutex logMutex_;
  std::vector<std::string> log_;
};

}  // namespace e2e

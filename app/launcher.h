// The one controller of a run. It walks the package through its stages:
//   "check"    ask the update check whether the installed package is current
//   "download" fetch the package archive, resuming a partial file
//   "cleanRes" stop the game and verify the archive's MD5 digest
//   "unzip"    unpack the archive into the data folder
//   "launch"   start the game and end the launcher
// Each stage's work runs on a worker thread and calls back with a status word; the callback
// starts the next stage on the same thread, so the flow is strictly sequential. Failures show
// a Retry/Cancel box: Retry starts again from "check", Cancel ends the process at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "app/game_control.h"
#include "app/settings.h"
#include "net/package_downloader.h"
#include "package/disk_space.h"
#include "package/package_extractor.h"
#include "ui/splash_state.h"
#include "update/file_level_update.h"
#include "update/update_check.h"

// The stage workers the controller drives; the entry point passes the real ones.
struct LauncherServices {
  UpdateCheck* checker = nullptr;
  PackageDownloader* downloader = nullptr;
  PackageExtractor* extractor = nullptr;
  GameControl* game = nullptr;
  // The update by files; null: every update takes the whole archive.
  FileLevelUpdater* files = nullptr;
};

// Delays of the flow, in milliseconds.
struct LauncherDelays {
  int verify = 900;  // after stopping the game, before the digest
  int exitAfterGame = 700;
  int exitAfterError = 600;
  int exitAfterClose = 1000;
  int restartRunningGame = 2000;
  // The archive's stall window (not a delay): slower than this rate for this long and the
  // attempt has failed, so the next base URL takes over.
  long stallBytesPerSecond = settings::archiveStallBytesPerSecond;
  long stallSeconds = settings::archiveStallSeconds;
};

class Launcher {
 public:
  Launcher(LauncherServices services, SplashState* splash);

  // Window set-up's share: channel URLs, the hidden elements, the first check.
  void BuildChannelUrls(const std::vector<std::string>& baseUrls);
  void StartCheck();

  void OnCheckResult(const std::string& status, const std::string& first, const std::string& second, std::int64_t size,
                     std::int64_t offset);
  void StartDownload(const std::string& archivePath, const std::string& digest, std::int64_t size, std::int64_t offset);
  void OnTransferEvent(const std::string& status, const std::string& payload, std::uint64_t downloaded,
                       std::uint64_t expected, double speed, const std::string& archivePath, const std::string& digest);
  // The update by files when both file lists allow it; false (after saying why) when the whole
  // archive is to be downloaded instead.
  bool StartFileLevelUpdate(const std::string& archivePath, const std::string& digest, std::int64_t size,
                            std::int64_t offset);
  void OnFilesStaged(const FileLevelOutcome& outcome, const std::string& archivePath, const std::string& digest,
                     std::int64_t size, std::int64_t offset);
  void CommitFiles(const std::string& archivePath, const std::string& digest, const std::vector<std::string>& remove);
  void StartVerify(const std::string& archivePath, const std::string& digest, std::uint64_t total);
  void VerifyArchive(const std::string& archivePath, const std::string& digest);
  void StartUnzip(const std::string& archivePath);
  void OnUnzipEvent(const std::string& status, const std::string& payload, long long done, long long total);
  void StartLaunch(bool freshlyUnpacked);
  void StartGame();
  int ShowRetryDialog(const std::string& message, const std::string& caption);
  void RemoveDownloadFolder();

  // Window thread, once per frame.
  void UpdateStageText(double dt);
  // Window thread, the close button's click handler.
  void OnCloseClicked();

  std::string Stage() const;
  const std::vector<std::string>& ChannelUrls() const { return channelUrls_; }
  void SetDelaysForTesting(const LauncherDelays& delays) { delays_ = delays; }

  static constexpr int kProgressFullWidth = 564;

 private:
  void SetStage(const std::string& stage);
  void SetFillWidth(double done, double total);
  void ShowMessage(const std::string& text, const std::string& caption, unsigned style);
  std::vector<std::size_t> DownloadOrder() const;
  // Ends the unpacking along with the download and removes what it staged.
  void StopStaging();
  // The Retry/Cancel box saying how much room is needed and where, when a volume lacks it.
  // True when the box was shown (the flow went on from its answer).
  bool ReportSpaceShortage(const std::vector<SpaceNeed>& needs);
  // The box with the system's reason; deletes the game only when the system blamed the file itself.
  void ReportFailedStart(const std::string& gamePath, const platform::ProcessStart& start);

  LauncherServices services_;
  SplashState* splash_;
  LauncherDelays delays_;
  std::vector<std::string> baseUrls_;
  std::vector<std::string> channelUrls_;
  // Base URLs by index: the last one the current download may try, and the one that failed
  // last (-1: none), which a Retry does not start from.
  int lastTriedBase_ = -1;
  int lastFailedBase_ = -1;
  // The SHA-256 the checked file information gives the archive; empty when not checked. Set by
  // the check's "needUpdate" and read by the stages after it, which run strictly after it.
  std::string expectedSha256_;
  // The download now or last was unpacked along into the staging folder.
  std::atomic<bool> streaming_{false};
  // Files the installed release lists and the new one does not, removed once the whole archive
  // is installed; empty when either list is missing. Set and read like `expectedSha256_`.
  std::vector<std::string> droppedFiles_;

  mutable std::mutex stageMutex_;  // `stage` is written by workers and read by the frame loop
  std::string stage_;

  // Window thread only.
  double dotTimer_ = 0.5;
  int dotCount_ = 0;
  bool closeClicked_ = false;
};

// Byte counts in the size and speed texts: "0k", "512k", "1.5M".
std::string FormatBytes(std::uint64_t bytes);
// Text of a stage name in the stage label; empty for anything else.
std::string StageText(const std::string& stage);
// The message up to (without) the first "StackTrace=".
std::string CutStackTrace(const std::string& message);
// done / total of the full width, truncated; 0 when total is 0 or the result is not finite.
int ProgressWidth(double done, double total, int fullWidth);

#include "app/launcher.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <iomanip>
#include <limits>
#include <optional>
#include <sstream>

#include "app/settings.h"
#include "app/status_words.h"
#include "app/texts.h"
#include "net/background_tasks.h"
#include "net/content_paths.h"
#include "net/progress_adapter.h"
#include "package/archive_digest.h"
#include "package/file_util.h"
#include "package/staging.h"
#include "package/zip_util.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/process_exit.h"
#include "platform/text_encoding.h"

namespace {

const char* const kStageCheck = "check";
const char* const kStageDownload = "download";
const char* const kStageCleanRes = "cleanRes";
const char* const kStageUnzip = "unzip";
const char* const kStageLaunch = "launch";

constexpr unsigned kRetryCancelStyle = platform::kRetryCancelBox | platform::kSystemModal;  // 0x1005
constexpr unsigned kOkStyle = platform::kOkBox | platform::kSystemModal;                    // 0x1000

void ExitLater(int delayMs) {
  RunAfterDelay(delayMs, [] { platform::QuickExit(0); });
}

}  // namespace

std::string FormatBytes(std::uint64_t bytes) {
  if (bytes < 1024) return "0k";
  if (bytes < 1048576) return std::to_string(bytes >> 10) + "k";
  std::ostringstream text;
  text << std::fixed << std::setprecision(1) << static_cast<double>(bytes) * (1.0 / 1024) * (1.0 / 1024) << "M";
  return text.str();
}

std::string StageText(const std::string& stage) {
  if (stage == kStageCheck) return texts::kStageCheck;
  if (stage == kStageDownload) return texts::kStageDownload;
  if (stage == kStageCleanRes) return texts::kStageCleanRes;
  if (stage == kStageUnzip) return texts::kStageUnzip;
  if (stage == kStageLaunch) return texts::kStageLaunch;
  return {};
}

std::string CutStackTrace(const std::string& message) {
  const auto at = message.find("StackTrace=");
  return at == std::string::npos ? message : message.substr(0, at);
}

int ProgressWidth(double done, double total, int fullWidth) {
  const double width = done / total * fullWidth;
  // A zero total or an absurd count has no meaningful width; show an empty fill rather than garbage.
  if (!std::isfinite(width)) return 0;
  if (width >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
  if (width <= static_cast<double>(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
  return static_cast<int>(width);
}

Launcher::Launcher(LauncherServices services, SplashState* splash) : services_(services), splash_(splash) {}

void Launcher::BuildChannelUrls(const std::vector<std::string>& baseUrls) {
  baseUrls_ = baseUrls;
  channelUrls_.clear();
  for (const auto& url : baseUrls) channelUrls_.push_back(ChannelUrl(url));
}

std::string Launcher::Stage() const {
  std::lock_guard<std::mutex> lock(stageMutex_);
  return stage_;
}

void Launcher::SetStage(const std::string& stage) {
  std::lock_guard<std::mutex> lock(stageMutex_);
  stage_ = stage;
}

void Launcher::SetFillWidth(double done, double total) {
  splash_->SetFillWidth(ProgressWidth(done, total, kProgressFullWidth));
}

void Launcher::ShowMessage(const std::string& text, const std::string& caption, unsigned style) {
  auto& dialogs = platform::CurrentDialogs();
  dialogs.BringMainWindowToFront();
  dialogs.Show(text, caption, style);
}

void Launcher::StartCheck() {
  // A link in the download folder's place would have the archive written, and later the
  // folder's content deleted, wherever it points: the link goes and a folder of ours is made.
  if (platform::IsLink(settings::channelId)) platform::RemovePathNoFollow(settings::channelId);
  FileUtil::CreateDir(settings::channelId);  // exists already on a retry: that is fine
  splash_->SetStageVisible(true);
  splash_->SetFillVisible(true);
  splash_->SetFillWidth(0);
  SetStage(kStageCheck);
  services_.checker->Start([this](const std::string& status, const std::string& first, const std::string& second,
                                  std::int64_t size,
                                  std::int64_t offset) { OnCheckResult(status, first, second, size, offset); });
}

void Launcher::OnCheckResult(const std::string& status, const std::string& first, const std::string& second,
                             std::int64_t size, std::int64_t offset) {
  try {
    if (status == status::kError) {
      ShowRetryDialog(first, texts::kCaptionError);
    } else if (status == status::kNotNeedUpdate) {
      RemoveDownloadFolder();
      StartLaunch(false);
    } else if (status == status::kNeedUpdate) {
      // A link in the download folder's place that StartCheck could not remove would have the
      // archive read, written and deleted wherever it points: nothing is fetched until a Retry.
      if (platform::IsLink(settings::channelId)) {
        std::printf("download folder %s is a link that cannot be removed\n", settings::channelId.c_str());
        ShowRetryDialog(std::string(texts::kRecordErrorHead) + settings::channelId + texts::kRecordErrorTail,
                        texts::kRecordErrorCaption);
        return;
      }
      splash_->SetSpeedVisible(true);
      splash_->SetSizeVisible(true);
      expectedSha256_ = services_.checker->ArchiveSha256();
      droppedFiles_.clear();
      const bool onDisk = FileUtil::Exists(first);
      const std::uint64_t onDiskBytes = onDisk ? FileUtil::Size(first) : 0;
      const bool complete = onDisk && onDiskBytes == static_cast<std::uint64_t>(offset) && size == offset;
      if (complete) {
        // Nothing downloads, so nothing is unpacked along: the archive is unpacked after the verification.
        services_.extractor->DropStaging();
        streaming_ = false;
        // Taken before the record names this package as the one replaced.
        droppedFiles_ = DroppedFilesOf(services_.checker->FileListsForUpdate(), settings::dataFolder);
        services_.downloader->RememberPackage(first, second);
        StartVerify(first, second, onDiskBytes);
      } else if (!channelUrls_.empty()) {
        const std::uint64_t remaining = size > offset ? static_cast<std::uint64_t>(size - offset) : 0;
        const std::uint64_t archive = size > 0 ? static_cast<std::uint64_t>(size) : 0;
        if (StartFileLevelUpdate(first, second, size, offset)) return;
        if (ReportSpaceShortage(
                {{settings::channelId, InBlocks(remaining)}, {settings::dataFolder, InBlocks(archive)}}))
          return;
        StartDownload(first, second, size, offset);
      }
      // Without any base URL there is nowhere to download from: the launcher stays in "check".
    }
  } catch (const std::exception& error) {
    ShowMessage(error.what(), texts::kCaptionError, kOkStyle);
  }
}

void Launcher::StartDownload(const std::string& archivePath, const std::string& digest, std::int64_t size,
                             std::int64_t offset) {
  splash_->SetFillWidth(0);
  SetStage(kStageDownload);
  splash_->SetSizeText("0kb/0k");
  splash_->SetSpeedText("0k/s");
  services_.downloader->RememberPackage(archivePath, digest);

  const std::vector<std::size_t> order = DownloadOrder();
  DownloadTask task;
  task.resumeOffset = static_cast<std::uint64_t>(offset);
  task.localPath = archivePath;
  task.url = ArchiveUrl(baseUrls_[order.front()], archivePath);
  for (std::size_t at = 1; at < order.size(); ++at)
    task.mirrorUrls.push_back(ArchiveUrl(baseUrls_[order[at]], archivePath));
  lastTriedBase_ = static_cast<int>(order.back());
  task.stallBytesPerSecond = delays_.stallBytesPerSecond;
  task.stallSeconds = delays_.stallSeconds;
  task.archiveBytes = size > 0 ? static_cast<std::uint64_t>(size) : 0;
  // Never more than the whole archive: a server that sends without end is cut off.
  task.maxBodyBytes = size > 0 ? static_cast<std::uint64_t>(size) : 0;
  task.withSha256 = !expectedSha256_.empty();
  // The archive is unpacked into the staging folder as it arrives (also the part kept from
  // before, read first); the unzip stage then only commits.
  task.growing = services_.extractor->BeginStaging(archivePath, settings::dataFolder, task.archiveBytes);
  streaming_ = task.growing != nullptr;
  task.callback = ProgressAdapter(
      [this](const std::string& status, const std::string& payload, std::uint64_t downloaded, std::uint64_t expected,
             double speed, const std::string& path,
             const std::string& md5) { OnTransferEvent(status, payload, downloaded, expected, speed, path, md5); },
      archivePath, static_cast<std::uint64_t>(offset), static_cast<std::uint64_t>(size), digest, NowMs());
  std::printf("download %s from %s, resume from %lld of %lld bytes\n", archivePath.c_str(), task.url.c_str(),
              static_cast<long long>(offset), static_cast<long long>(size));
  services_.downloader->Start(std::move(task));
}

bool Launcher::StartFileLevelUpdate(const std::string& archivePath, const std::string& digest, std::int64_t size,
                                    std::int64_t offset) {
  if (services_.files == nullptr || size <= 0) return false;
  const FileLists lists = services_.checker->FileListsForUpdate();
  if (!lists.unusable.empty()) {
    std::printf("whole-archive update: %s\n", lists.unusable.c_str());
    // What the release before the unfinished install had and this one has not may still lie there.
    droppedFiles_ = DroppedFilesOf(lists, settings::dataFolder);
    return false;
  }
  FileLevelTask task;
  task.dataFolder = settings::dataFolder;
  if (const auto reason = PlanFileLevelUpdate(lists, task)) {
    std::printf("%s\n", FallbackLine(*reason).c_str());
    return false;
  }
  // Should the files not come by ranges, the whole archive's install removes these.
  droppedFiles_ = task.work.remove;
  splash_->SetFillWidth(0);
  SetStage(kStageDownload);
  splash_->SetSizeText("0kb/0k");
  splash_->SetSpeedText("0k/s");
  const std::vector<std::size_t> order = DownloadOrder();
  for (const std::size_t base : order) task.urls.push_back(ArchiveUrl(baseUrls_[base], archivePath));
  lastTriedBase_ = static_cast<int>(order.back());
  task.archiveBytes = static_cast<std::uint64_t>(size);
  task.stallBytesPerSecond = delays_.stallBytesPerSecond;
  task.stallSeconds = delays_.stallSeconds;
  task.downloadFolder = settings::channelId;
  const std::uint64_t startMs = NowMs();
  task.progress = [this, startMs, archivePath, digest](std::uint64_t fetched, std::uint64_t toFetch) {
    const std::uint64_t elapsedMs = NowMs() - startMs;
    const double speed = elapsedMs > 0 ? static_cast<double>(fetched) * 1000.0 / static_cast<double>(elapsedMs) : 0;
    OnTransferEvent(status::kTrans, "", fetched, toFetch, speed, archivePath, digest);
  };
  std::printf("update by files of %s from %s\n", archivePath.c_str(), task.urls.front().c_str());
  services_.files->Stage(std::move(task), [this, archivePath, digest, size, offset](const FileLevelOutcome& outcome) {
    OnFilesStaged(outcome, archivePath, digest, size, offset);
  });
  return true;
}

void Launcher::OnFilesStaged(const FileLevelOutcome& outcome, const std::string& archivePath, const std::string& digest,
                             std::int64_t size, std::int64_t offset) {
  try {
    if (outcome.fallback) {
      std::printf("%s%s%s\n", FallbackLine(*outcome.fallback).c_str(), outcome.detail.empty() ? "" : ": ",
                  outcome.detail.c_str());
      StartDownload(archivePath, digest, size, offset);
      return;
    }
    std::printf("file-level update staged %zu files, %llu bytes fetched\n", outcome.files,
                static_cast<unsigned long long>(outcome.fetchedBytes));
    services_.game->KillGameProcesses();
    splash_->SetFillWidth(kProgressFullWidth);
    splash_->SetSizeText(FormatBytes(outcome.fetchedBytes) + "/" + FormatBytes(outcome.toFetchBytes));
    SetStage(kStageCleanRes);
    RunAfterDelay(delays_.verify,
                  [this, archivePath, digest, remove = outcome.remove] { CommitFiles(archivePath, digest, remove); });
  } catch (const std::exception& error) {
    ShowMessage(error.what(), texts::kCaptionError, kOkStyle);
  }
}

void Launcher::CommitFiles(const std::string& archivePath, const std::string& digest,
                           const std::vector<std::string>& remove) {
  services_.game->KillGameProcesses();  // a copy started during the delay must not hold files
  droppedFiles_.clear();                // the commit removes them
  splash_->SetFillWidth(0);
  splash_->SetSpeedVisible(false);
  SetStage(kStageUnzip);
  services_.files->Commit(archivePath, digest, remove,
                          [this](const std::string& status, const std::string& payload, long long done,
                                 long long total) { OnUnzipEvent(status, payload, done, total); });
}

// Every base URL once, from a random one; never from the one that failed last, when there is another.
std::vector<std::size_t> Launcher::DownloadOrder() const {
  const std::size_t count = baseUrls_.size();
  std::size_t start = static_cast<std::size_t>(std::rand()) % count;
  if (count > 1 && lastFailedBase_ >= 0 && start == static_cast<std::size_t>(lastFailedBase_)) {
    start = (start + 1 + static_cast<std::size_t>(std::rand()) % (count - 1)) % count;
  }
  std::vector<std::size_t> order;
  for (std::size_t step = 0; step < count; ++step) order.push_back((start + step) % count);
  return order;
}

void Launcher::OnTransferEvent(const std::string& status, const std::string& payload, std::uint64_t downloaded,
                               std::uint64_t expected, double speed, const std::string& archivePath,
                               const std::string& digest) {
  if (status == status::kTrans) {
    SetFillWidth(static_cast<double>(downloaded), static_cast<double>(expected));
    const double shownSpeed = std::isfinite(speed) && speed > 0 ? speed : 0.0;
    splash_->SetSpeedText(FormatBytes(static_cast<std::uint64_t>(shownSpeed)) + "/s");
    splash_->SetSizeText(FormatBytes(downloaded) + "/" + FormatBytes(expected));
  } else if (status == status::kSucc) {
    StartVerify(archivePath, digest, expected);
  } else if (status == status::kFail) {
    // The download tried every base URL in its order; the last of them failed last.
    lastFailedBase_ = lastTriedBase_;
    StopStaging();
    ShowRetryDialog(payload + texts::kClickToRetry, "");
  }
}

void Launcher::StartVerify(const std::string& archivePath, const std::string& digest, std::uint64_t total) {
  services_.game->KillGameProcesses();
  splash_->SetFillWidth(kProgressFullWidth);
  splash_->SetSizeText(FormatBytes(total) + "/" + FormatBytes(total));
  SetStage(kStageCleanRes);
  RunAfterDelay(delays_.verify, [this, archivePath, digest] { VerifyArchive(archivePath, digest); });
}

void Launcher::VerifyArchive(const std::string& archivePath, const std::string& digest) {
  const bool withSha256 = !expectedSha256_.empty();
  // The digest taken while the archive was written (or by the check that found it complete)
  // stands for exactly the bytes on disk; only without one is the archive read again.
  std::optional<ArchiveDigests> actual = DigestMemo::Find(archivePath);
  if (actual && withSha256 && actual->sha256.empty()) actual.reset();
  if (actual) {
    std::printf("archive %s digest already taken: %s\n", archivePath.c_str(), actual->md5.c_str());
  } else if (FileUtil::Exists(archivePath)) {
    std::printf("hashing archive %s\n", archivePath.c_str());
    actual = HashWholeFile(archivePath, withSha256);
  }
  DigestMemo::Forget(archivePath);
  const std::string md5 = actual ? actual->md5 : std::string();
  const bool md5Matches = !md5.empty() && md5 == digest;
  const bool sha256Matches = !withSha256 || (actual && actual->sha256 == expectedSha256_);
  if (md5Matches && sha256Matches) {
    StartUnzip(archivePath);
    return;
  }
  std::printf("archive %s digest %s, expected %s\n", archivePath.c_str(), md5.c_str(), digest.c_str());
  if (md5Matches) {
    std::printf("archive %s SHA-256 %s, expected %s\n", archivePath.c_str(), actual->sha256.c_str(),
                expectedSha256_.c_str());
  }
  StopStaging();
  platform::RemoveFile(archivePath);
  DiscardStaging(settings::dataFolder);
  services_.checker->ForgetFileInfo(archivePath);
  ShowRetryDialog(md5Matches ? texts::kSha256Mismatch : texts::kDigestMismatch, "");
}

// Before a box: the process may end on its answer, and the data folder is left as it was.
void Launcher::StopStaging() {
  services_.extractor->DropStaging();
  if (streaming_.exchange(false)) DiscardStaging(settings::dataFolder);
}

void Launcher::StartUnzip(const std::string& archivePath) {
  // Files staged while downloading take their room already, and committing them takes none;
  // unpacking anew after the download first gives back the room of what was staged.
  std::optional<std::uint64_t> unpacked = UnpackedBytes(archivePath);
  if (unpacked && streaming_) {
    const std::uint64_t left = *unpacked - std::min(*unpacked, StagedBytes(settings::dataFolder));
    if (!FindSpaceShortage({{settings::dataFolder, left}})) {
      unpacked.reset();
    } else {
      StopStaging();  // the box counts the whole unpacking, with the staging's room given back
    }
  }
  if (unpacked && ReportSpaceShortage({{settings::dataFolder, *unpacked}})) return;
  streaming_ = false;
  splash_->SetFillWidth(0);
  splash_->SetSpeedVisible(false);
  SetStage(kStageUnzip);
  try {
    services_.extractor->Start(UnzipTask{archivePath, settings::dataFolder,
                                         [this](const std::string& status, const std::string& payload, long long done,
                                                long long total) { OnUnzipEvent(status, payload, done, total); }});
  } catch (const std::exception& error) {
    platform::RemoveFile(archivePath);
    ShowRetryDialog(std::string(texts::kUnzipCannotStart) + error.what(), "");
  }
}

void Launcher::OnUnzipEvent(const std::string& status, const std::string& payload, long long done, long long total) {
  if (status == status::kUnzip) {
    SetFillWidth(static_cast<double>(done), static_cast<double>(total));
    splash_->SetSizeText(std::to_string(done) + "/" + std::to_string(total));
  } else if (status == status::kFail) {
    // The advice mends a locked or damaged install; a fault of the archive is named for the studio.
    // The cause names entries in UTF-8; the box shows GBK like the advice above it.
    const std::string cause = platform::Utf8ToGbk(ZipUtil::ArchiveFaultOf(payload));
    ShowRetryDialog(std::string(texts::kUnzipFailedHead) + settings::dataFolder + texts::kUnzipFailedTail +
                        (cause.empty() ? "" : "\n" + cause),
                    "");
  } else if (status == status::kSucc) {
    RemoveDroppedFiles(settings::dataFolder, droppedFiles_);
    droppedFiles_.clear();
    RemoveDownloadFolder();
    StartLaunch(true);
  }
}

void Launcher::StartLaunch(bool freshlyUnpacked) {
  splash_->SetFillWidth(kProgressFullWidth);
  splash_->SetStageText(texts::kLaunchingNow);
  splash_->SetStageVisible(true);
  SetStage(kStageLaunch);
  services_.checker->SaveLastFileInfo();

  const std::string gamePath = settings::dataFolder + "/" + settings::gameExeName;
  if (!FileUtil::Exists(gamePath)) ShowMessage(gamePath + texts::kFileMissing, "", kOkStyle);

  const bool running = services_.game->IsGameRunning();
  if (!running || freshlyUnpacked) {
    StartGame();
  } else {
    RunAfterDelay(delays_.restartRunningGame, [this] { StartGame(); });
  }
}

void Launcher::StartGame() {
  const std::string gamePath = FileUtil::JoinPath(settings::dataFolder, settings::gameExeName);
  try {
    services_.game->KillGameProcesses();
    const std::string arguments = services_.game->BuildArgumentString();
    const platform::ProcessStart start = services_.game->CreateGameProcess(arguments);
    if (start.started) {
      ExitLater(delays_.exitAfterGame);
      return;
    }
    ReportFailedStart(gamePath, start);
    ExitLater(delays_.exitAfterError);
  } catch (const std::exception& error) {
    if (FileUtil::Exists(gamePath)) platform::RemoveFile(gamePath);
    splash_->SetCloseVisible(true);
    ShowMessage(std::string(texts::kGameStartFailed) + error.what(), "", kOkStyle);
    ExitLater(delays_.exitAfterError);
  }
}

void Launcher::ReportFailedStart(const std::string& gamePath, const platform::ProcessStart& start) {
  std::printf("could not start %s: %s\n", gamePath.c_str(), start.reason.c_str());
  // A missing game was named in its own box before the start.
  if (!FileUtil::Exists(gamePath)) return;
  // Only a file the system calls no valid program goes, so that the next check finds the
  // package incomplete and unpacks it anew. Any other reason (a mount without execution, a
  // path beyond the system's limit, no permission) would come back with the same file, and
  // deleting it would only buy a full download on every run.
  if (start.badExecutable && platform::RemoveFile(gamePath)) {
    std::printf("deleted %s, the next run repairs it\n", gamePath.c_str());
  }
  splash_->SetCloseVisible(true);
  ShowMessage(std::string(texts::kGameStartFailed) + start.reason, "", kOkStyle);
}

bool Launcher::ReportSpaceShortage(const std::vector<SpaceNeed>& needs) {
  const std::optional<SpaceShortage> shortage = FindSpaceShortage(needs);
  if (!shortage) return false;
  const std::string where = platform::CurrentDirectory() + platform::kPathSeparator + shortage->folder;
  std::printf("not enough space in %s: %llu bytes needed, %llu available\n", where.c_str(),
              static_cast<unsigned long long>(shortage->needed), static_cast<unsigned long long>(shortage->available));
  ShowRetryDialog(std::string(texts::kSpaceShortHead) + FormatBytes(shortage->needed) + texts::kSpaceAvailable +
                      FormatBytes(shortage->available) + texts::kSpaceWhere + platform::Utf8ToGbk(where) +
                      texts::kSpaceShortTail,
                  texts::kCaptionError);
  return true;
}

int Launcher::ShowRetryDialog(const std::string& message, const std::string& caption) {
  auto& dialogs = platform::CurrentDialogs();
  dialogs.BringMainWindowToFront();
  const int answer = dialogs.Show(CutStackTrace(message), caption, kRetryCancelStyle);
  if (answer == platform::kAnswerCancel) platform::QuickExit(0);
  StartCheck();
  return answer;
}

void Launcher::RemoveDownloadFolder() {
  try {
    FileUtil::DeleteTree();
    if (platform::IsLink(settings::channelId)) {
      platform::RemovePathNoFollow(settings::channelId);  // the link only, never what it points to
    } else {
      platform::RemoveEmptyDirectory(settings::channelId);
    }
  } catch (const std::exception&) {
    // Cleaning up is a courtesy; a folder that stays does no harm.
  }
}

void Launcher::UpdateStageText(double dt) {
  dotTimer_ -= dt;
  if (dotTimer_ <= 0) {
    dotTimer_ = 0.5;
    dotCount_ = (dotCount_ + 1) % 4;
  }
  splash_->SetStageText(StageText(Stage()) + std::string(static_cast<std::size_t>(dotCount_), '.'));
}

void Launcher::OnCloseClicked() {
  if (closeClicked_) return;
  closeClicked_ = true;
  ExitLater(delays_.exitAfterClose);
}

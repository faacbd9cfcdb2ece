#include "update/file_level_update.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <utility>

#include "app/settings.h"
#include "net/background_tasks.h"
#include "net/download_record.h"
#include "net/range_fetch.h"
#include "net/remember_package.h"
#include "package/entry_install.h"
#include "package/remote_zip.h"
#include "package/staging.h"
#include "package/zip_util.h"
#include "platform/files.h"
#include "update/record_keys.h"

namespace {

// The first look at the archive's end: the end records of an archive without a long comment, and
// for a small package its whole central directory. An end that needs more (a long comment, a
// zip64 record before these bytes) is asked for again at the size it needs.
constexpr std::uint64_t kFirstTailBytes = 16 * 1024;

FileLevelOutcome Fallback(FallbackReason reason, std::string detail, std::uint64_t fetched = 0) {
  FileLevelOutcome outcome;
  outcome.fallback = reason;
  outcome.detail = std::move(detail);
  outcome.fetchedBytes = fetched;
  return outcome;
}

// Fetches pieces, telling progress as bytes fetched before them plus theirs; counts them in.
class Fetcher {
 public:
  explicit Fetcher(const FileLevelTask& task) : task_(task) {}

  RangeFetchResult Fetch(std::vector<RangePiece>& pieces) {
    RangeFetchTask fetch;
    fetch.urls = task_.urls;
    fetch.archiveBytes = task_.archiveBytes;
    fetch.stallBytesPerSecond = task_.stallBytesPerSecond;
    fetch.stallSeconds = task_.stallSeconds;
    fetch.progress = [this](std::uint64_t bytes) {
      if (task_.progress) task_.progress(fetched_ + bytes, std::max(toFetch_, fetched_ + bytes));
    };
    const RangeFetchResult result = FetchRanges(fetch, pieces, url_);
    url_ = result.urlIndex;  // a URL that failed is not asked again
    fetched_ += result.fetchedBytes;
    return result;
  }
  void Expect(std::uint64_t more) { toFetch_ = fetched_ + more; }
  std::uint64_t Fetched() const { return fetched_; }
  std::uint64_t ToFetch() const { return std::max(toFetch_, fetched_); }

 private:
  const FileLevelTask& task_;
  std::size_t url_ = 0;
  std::uint64_t fetched_ = 0;
  std::uint64_t toFetch_ = 0;
};

std::optional<FallbackReason> ReasonOf(const RangeFetchResult& result) {
  if (result.outcome == RangeFetchOutcome::kDone) return std::nullopt;
  return result.outcome == RangeFetchOutcome::kUnusable ? FallbackReason::kRangesIgnored : FallbackReason::kFetchFailed;
}

// The archive's last `bytes` bytes (all of it when shorter), into `tail`.
RangeFetchResult FetchTail(Fetcher& fetcher, std::uint64_t archiveBytes, std::uint64_t bytes, std::string& tail) {
  const std::uint64_t length = std::min(bytes, archiveBytes);
  std::vector<RangePiece> pieces{{archiveBytes - length, archiveBytes - 1, "", ""}};
  fetcher.Expect(length);
  RangeFetchResult result = fetcher.Fetch(pieces);
  tail = std::move(pieces[0].bytes);
  return result;
}

struct Directory {
  DirectoryPlace place;
  std::vector<RemoteEntry> entries;
};

// Steps 2 and 3: where the central directory is, and its entries.
std::optional<FileLevelOutcome> ReadDirectory(Fetcher& fetcher, const FileLevelTask& task, Directory& directory) {
  std::string tail;
  RangeFetchResult result = FetchTail(fetcher, task.archiveBytes, kFirstTailBytes, tail);
  if (const auto reason = ReasonOf(result)) return Fallback(*reason, result.reason);
  DirectoryLookup lookup = FindCentralDirectory(tail, task.archiveBytes);
  // Each longer tail is asked for because the shorter one could not hold the records: twice
  // covers the longest comment and then a zip64 record before it.
  for (int longer = 0; longer < 2 && lookup.kind == DirectoryLookup::Kind::kNeedTail; ++longer) {
    result = FetchTail(fetcher, task.archiveBytes, lookup.tailBytes, tail);
    if (const auto reason = ReasonOf(result)) return Fallback(*reason, result.reason);
    lookup = FindCentralDirectory(tail, task.archiveBytes);
  }
  if (lookup.kind != DirectoryLookup::Kind::kFound) return Fallback(FallbackReason::kArchiveEndUnreadable, "");
  directory.place = lookup.place;
  const std::uint64_t tailStart = task.archiveBytes - tail.size();
  std::string bytes;
  if (directory.place.offset >= tailStart) {
    bytes = tail.substr(static_cast<std::size_t>(directory.place.offset - tailStart),
                        static_cast<std::size_t>(directory.place.size));
  } else if (directory.place.size != 0) {
    std::vector<RangePiece> pieces{{directory.place.offset, directory.place.offset + directory.place.size - 1, "", ""}};
    fetcher.Expect(directory.place.size);
    result = fetcher.Fetch(pieces);
    if (const auto reason = ReasonOf(result)) return Fallback(*reason, result.reason);
    bytes = std::move(pieces[0].bytes);
  }
  if (!ParseCentralDirectory(bytes, directory.place, directory.entries)) {
    return Fallback(FallbackReason::kDirectoryUnreadable, "");
  }
  return std::nullopt;
}

// Step 5 for one fetched range: each wanted entry in it inflated into the staging folder.
std::string InstallRange(const ByteRange& range, const std::string& file, const Directory& directory,
                         const std::vector<const ManifestFile*>& listedOf, const FileLevelTask& task) {
  for (const std::size_t index : range.entries) {
    const RemoteEntry& entry = directory.entries[index];
    const EntrySpan span{file, entry.localHeaderOffset - range.first, range.last + 1 - entry.localHeaderOffset};
    const ManifestFile& listed = *listedOf[index];
    std::string why =
        InstallEntry(span, entry, listed.path, listed.sha256, StagingFolderOf(task.dataFolder), task.dataFolder);
    if (!why.empty()) return why;
  }
  return {};
}

}  // namespace

void RemoveDroppedFiles(const std::string& dataFolder, const std::vector<std::string>& remove) {
  for (const std::string& path : remove) {
    if (RemoveDroppedFile(dataFolder, path)) {
      std::printf("removed %s, which the new release no longer has\n", path.c_str());
    } else {
      std::printf("could not remove %s, which the new release no longer has\n", path.c_str());
    }
  }
  for (const std::string& folder : RemoveEmptiedFolders(dataFolder, remove)) {
    std::printf("removed the folder %s, which the removed files left empty\n", folder.c_str());
  }
}

std::vector<std::string> DroppedFilesOf(const FileLists& lists, const std::string& dataFolder) {
  FileListsRead read;
  if (lists.oldText.empty() || ReadFileLists(lists.oldText, lists.oldVerified, lists.newText, read)) return {};
  return ChooseFileWork(read.oldFiles, read.newFiles, dataFolder).remove;
}

std::optional<FallbackReason> PlanFileLevelUpdate(const FileLists& lists, FileLevelTask& task) {
  if (const auto reason = ReadFileLists(lists.oldText, lists.oldVerified, lists.newText, task.lists)) return reason;
  task.work = ChooseFileWork(task.lists.oldFiles, task.lists.newFiles, task.dataFolder);
  return std::nullopt;
}

FileLevelOutcome StageFileLevelUpdate(const FileLevelTask& task) {
  const std::vector<ManifestFile>& newFiles = task.lists.newFiles;
  const FileWork& work = task.work;

  Fetcher fetcher(task);
  Directory directory;
  if (auto failed = ReadDirectory(fetcher, task, directory)) {
    failed->fetchedBytes = fetcher.Fetched();
    return *failed;
  }
  std::vector<std::size_t> entryOf;
  if (const auto reason = CheckDirectoryAgrees(directory.entries, newFiles, entryOf)) {
    return Fallback(*reason, "", fetcher.Fetched());
  }
  std::vector<std::size_t> wanted;
  std::vector<const ManifestFile*> listedOf(directory.entries.size(), nullptr);
  for (const std::size_t file : work.fetch) {
    wanted.push_back(entryOf[file]);
    listedOf[entryOf[file]] = &newFiles[file];
  }
  std::vector<ByteRange> ranges;
  if (!wanted.empty() && !JoinEntryRanges(directory.entries, wanted, directory.place, ranges)) {
    return Fallback(FallbackReason::kDirectoryUnreadable, "", fetcher.Fetched());
  }
  const std::uint64_t rangeBytes = RangeBytes(ranges);
  if (!ShareAllowsFiles(rangeBytes, directory.place.size, task.archiveBytes)) {
    return Fallback(FallbackReason::kTooLargeShare, "", fetcher.Fetched());
  }
  std::printf("%s\n", FileLevelLine(work.fetch.size(), newFiles.size(), rangeBytes, task.archiveBytes).c_str());

  // What an earlier, interrupted run staged may be of another package or half written.
  if (!DiscardStaging(task.dataFolder)) return Fallback(FallbackReason::kFileCheckFailed, "cannot empty the staging");
  fetcher.Expect(rangeBytes);
  for (std::size_t at = 0; at < ranges.size(); ++at) {
    const std::string file = task.downloadFolder + "/range" + std::to_string(at) + ".part";
    std::vector<RangePiece> pieces{{ranges[at].first, ranges[at].last, file, ""}};
    const RangeFetchResult result = fetcher.Fetch(pieces);
    std::string why = result.reason;
    std::optional<FallbackReason> reason = ReasonOf(result);
    if (!reason) {
      why = InstallRange(ranges[at], file, directory, listedOf, task);
      if (!why.empty()) reason = FallbackReason::kFileCheckFailed;
    }
    platform::RemoveFile(file);
    if (reason) {
      DiscardStaging(task.dataFolder);
      return Fallback(*reason, why, fetcher.Fetched());
    }
  }
  FileLevelOutcome outcome;
  outcome.remove = work.remove;
  outcome.fetchedBytes = fetcher.Fetched();
  outcome.toFetchBytes = fetcher.ToFetch();
  outcome.files = work.fetch.size();
  return outcome;
}

void CommitFileLevelUpdate(const std::string& dataFolder, const std::vector<std::string>& remove,
                           const UnzipCallback& callback) {
  const std::string staging = StagingFolderOf(dataFolder);
  std::string failure;
  // Nothing to fetch (a release that only drops files) stages nothing.
  if (platform::IsDirectory(staging) && !CommitStaged(staging, dataFolder, callback, failure)) {
    DiscardStaging(dataFolder);
    callback(unzip_status::kFailed, failure, 0, 0);
    return;
  }
  DiscardStaging(dataFolder);
  RemoveDroppedFiles(dataFolder, remove);
  callback(unzip_status::kSucceeded, "", 0, 0);
}

void ThreadedFileLevelUpdater::Stage(FileLevelTask task, std::function<void(const FileLevelOutcome&)> done) {
  RunDetached([task = std::move(task), done = std::move(done)] { done(StageFileLevelUpdate(task)); });
}

void ThreadedFileLevelUpdater::Commit(std::string zipName, std::string zipMd5, std::vector<std::string> remove,
                                      UnzipCallback callback) {
  RunDetached([zipName = std::move(zipName), zipMd5 = std::move(zipMd5), remove = std::move(remove),
               callback = std::move(callback)] {
    // Without the mark on disk no file may be replaced (as for the whole archive).
    NoteReplacedPackage();
    if (!DownloadRecord::Set(record_key::kExtracting, zipName)) {
      DownloadRecord::ShowWriteError();
      callback(unzip_status::kFailed, "cannot write the download record", 0, 0);
      return;
    }
    RememberPackage(zipName, zipMd5);
    CommitFileLevelUpdate(
        settings::dataFolder, remove,
        [&callback](const std::string& status, const std::string& payload, long long done, long long total) {
          // Cleared before "succ" is passed on: the launcher may end soon after.
          if (status == unzip_status::kSucceeded) DownloadRecord::Set(record_key::kExtracting, "");
          callback(status, payload, done, total);
        });
  });
}

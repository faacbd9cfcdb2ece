// The update by files: only the files a release changed (or that are missing or of the wrong
// size on disk) are fetched out of the new archive by byte ranges, inflated into the staging
// folder, and committed into place like a whole-archive install; files the release dropped are
// removed.
//
// Policy, in this order, each step's failure naming the reason to take the whole archive:
//   1. both file lists usable (update/file_manifest.h), the work chosen from them;
//   2. the archive's last bytes by range: the end of central directory (zip64 included); a tail
//      too short for the records is asked for again (at most twice), at the size they need;
//   3. the central directory by range (taken from the tail when it lies there), which must agree
//      with the new file list;
//   4. the share: the joined ranges and the directory under half the archive;
//   5. the ranges, through the archive's URLs, stall window and failover (net/range_fetch.h),
//      each written to a file in the download folder, its entries inflated and checked into the
//      staging folder, the file removed again.
// The installed tree is not touched until the commit; a failure leaves nothing staged. The
// commit holds the record's "not installed yet" mark from before the first file moves until the
// last dropped file is gone, so a run killed in between installs the whole archive next time.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "package/unzip_callback.h"
#include "update/file_manifest.h"

// What the check knows of both file lists.
struct FileLists {
  std::string oldText;  // the installed package's file information; empty when there is none
  bool oldVerified = true;
  std::string newText;  // the file information being installed
  // Why the installed tree cannot be read from the old list (an install that never finished);
  // empty when it can. The old text is then that of the release the unfinished install replaced,
  // when known: it names the files to remove, not the files on disk.
  std::string unusable;
};

// Removes the dropped files `remove` (RemoveDroppedFile) and then the folders they left empty
// (RemoveEmptiedFolders), a line on standard output for each.
void RemoveDroppedFiles(const std::string& dataFolder, const std::vector<std::string>& remove);

// The files to remove after a whole-archive install that follows an unfinished one: those the
// replaced release lists and the new one does not; none when either list is missing or unusable.
std::vector<std::string> DroppedFilesOf(const FileLists& lists, const std::string& dataFolder);

struct FileLevelTask {
  FileListsRead lists;  // both lists, read once (PlanFileLevelUpdate)
  FileWork work;        // chosen from them against the data folder
  std::uint64_t archiveBytes = 0;
  std::vector<std::string> urls;  // the new archive at each base URL, in the order tried
  long stallBytesPerSecond = 1024;
  long stallSeconds = 30;
  std::string dataFolder;
  std::string downloadFolder;  // where the fetched ranges are kept until their files are staged
  // (bytes fetched, bytes to fetch) after each block; the second grows once the ranges are known.
  std::function<void(std::uint64_t, std::uint64_t)> progress;
};

struct FileLevelOutcome {
  std::optional<FallbackReason> fallback;  // set: nothing is staged, take the whole archive
  std::string detail;                      // the failure's own words, for the log
  std::vector<std::string> remove;         // dropped files, for the commit
  std::uint64_t fetchedBytes = 0;          // everything fetched, the archive's end and directory included
  std::uint64_t toFetchBytes = 0;
  std::size_t files = 0;  // files staged
};

// Synchronous: steps 1 to 5. Prints the "file-level update: ..." line once the work is known.
// Step 1: reads both lists into `task` and chooses its work against `task.dataFolder`; the
// reason to take the whole archive when the lists cannot be used.
std::optional<FallbackReason> PlanFileLevelUpdate(const FileLists& lists, FileLevelTask& task);

// Steps 2 to 5 for a task that PlanFileLevelUpdate filled.
FileLevelOutcome StageFileLevelUpdate(const FileLevelTask& task);

// Moves what is staged into `dataFolder` and removes the dropped files: ("unzip", path, done,
// total) per path, then exactly one "succ" or "fail". The caller holds the record's mark.
void CommitFileLevelUpdate(const std::string& dataFolder, const std::vector<std::string>& remove,
                           const UnzipCallback& callback);

// The launcher's view: both steps on worker threads.
class FileLevelUpdater {
 public:
  virtual ~FileLevelUpdater() = default;
  // Runs StageFileLevelUpdate on its own thread; `done` is called there, once.
  virtual void Stage(FileLevelTask task, std::function<void(const FileLevelOutcome&)> done) = 0;
  // On its own thread: the record marked for `zipName` and `zipMd5` (the package then named
  // there), the commit, the mark cleared before "succ".
  virtual void Commit(std::string zipName, std::string zipMd5, std::vector<std::string> remove,
                      UnzipCallback callback) = 0;
};

class ThreadedFileLevelUpdater : public FileLevelUpdater {
 public:
  void Stage(FileLevelTask task, std::function<void(const FileLevelOutcome&)> done) override;
  void Commit(std::string zipName, std::string zipMd5, std::vector<std::string> remove,
              UnzipCallback callback) override;
};

#include "package/staging.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "package/archive_check.h"
#include "package/output_file.h"
#include "package/zip_util.h"
#include "platform/files.h"

namespace {

const char* const kCommitFail = "commit file fail: ";

struct StagedPath {
  std::string relative;  // with "/" between its parts, as entry names are written
  bool folder = false;
};

std::string Native(const std::string& relative) {
  std::string path = relative;
  for (char& c : path) {
    if (c == '/') c = platform::kPathSeparator;
  }
  return path;
}

// Everything below `root`, each folder before its contents. False when a folder cannot be listed.
bool Collect(const std::string& root, const std::string& relative, std::vector<StagedPath>& paths) {
  std::vector<platform::DirEntry> entries;
  const std::string folder = relative.empty() ? root : root + platform::kPathSeparator + Native(relative);
  if (!platform::ListDirectory(folder, &entries)) return false;
  for (const auto& entry : entries) {
    const std::string path = relative.empty() ? entry.name : relative + "/" + entry.name;
    paths.push_back({path, entry.isDirectory});
    if (entry.isDirectory && !Collect(root, path, paths)) return false;
  }
  return true;
}

bool MovePath(const std::string& staging, const std::string& destination, const StagedPath& path) {
  const std::string target = destination + platform::kPathSeparator + Native(path.relative);
  if (path.folder) return MakeFolderInPlace(target);
  // A link is replaced as the link itself; a folder of an earlier release goes with its contents.
  if (platform::IsLink(target) || platform::IsDirectory(target)) platform::RemovePathNoFollow(target);
  return platform::MoveIntoPlace(staging + platform::kPathSeparator + Native(path.relative), target);
}

std::string WithoutFinalSeparator(std::string folder) {
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  return folder;
}

}  // namespace

std::string StagingFolderOf(const std::string& destination) {
  return WithoutFinalSeparator(destination) + platform::kPathSeparator + kStagingFolderName;
}

std::uint64_t StagedBytes(const std::string& destination) {
  const std::string staging = StagingFolderOf(destination);
  std::vector<StagedPath> paths;
  if (!platform::IsDirectory(staging) || !Collect(staging, "", paths)) return 0;
  std::uint64_t total = 0;
  for (const auto& path : paths) {
    std::uint64_t size = 0;
    if (!path.folder && platform::FileSize(staging + platform::kPathSeparator + Native(path.relative), &size))
      total += size;
  }
  return total;
}

bool DiscardStaging(const std::string& destination) {
  return platform::RemovePathNoFollow(StagingFolderOf(destination));
}

bool CommitStaged(const std::string& staging, const std::string& destination, const UnzipCallback& callback,
                  std::string& failure) {
  std::vector<StagedPath> paths;
  if (!Collect(staging, "", paths)) {
    failure = kCommitFail + staging;
    return false;
  }
  // The staging folder's own name would have the commit move files onto those still to come.
  for (const auto& path : paths) {
    if (path.relative == kStagingFolderName || path.relative.starts_with(std::string(kStagingFolderName) + "/")) {
      failure = std::string("extract file fail: ") + path.relative + "\n" + kCannotHoldHead + path.relative;
      return false;
    }
  }
  const std::string target = WithoutFinalSeparator(destination);
  const auto total = static_cast<long long>(paths.size());
  for (std::size_t at = 0; at < paths.size(); ++at) {
    if (!MovePath(staging, target, paths[at])) {
      failure = kCommitFail + paths[at].relative;
      std::printf("%s\n", failure.c_str());
      return false;
    }
    if (callback) callback(unzip_status::kEntryDone, paths[at].relative, static_cast<long long>(at) + 1, total);
  }
  return true;
}

bool InstallThroughStaging(const UnzipTask& task) {
  const auto finish = [&task](const std::string& status, const std::string& payload, long long done, long long total) {
    if (task.callback) task.callback(status, payload, done, total);
    return status == unzip_status::kSucceeded;
  };
  const std::string destination = WithoutFinalSeparator(task.destination);
  const std::string staging = StagingFolderOf(destination);
  // What an earlier, interrupted run staged may be of another package or half written.
  if (!DiscardStaging(destination)) return finish(unzip_status::kFailed, kCommitFail + staging, 0, 0);
  if (!platform::IsDirectory(destination)) platform::MakeDirectory(destination);

  std::string status;
  std::string payload;
  long long failedAt = 0;
  long long entries = 0;
  ZipUtil::UnzipAll(
      task.archivePath, staging,
      [&](const std::string& word, const std::string& text, long long done, long long total) {
        if (word == unzip_status::kEntryDone) {
          if (task.callback) task.callback(word, text, done, total);
          return;
        }
        status = word;
        payload = text;
        failedAt = done;
        entries = total;
      },
      kUnpackWorkers);
  if (status != unzip_status::kSucceeded) {
    DiscardStaging(destination);  // the room it takes is given back; the next run stages anew
    return finish(unzip_status::kFailed, payload, failedAt, entries);
  }
  std::string failure;
  if (!CommitStaged(staging, destination, task.callback, failure)) {
    DiscardStaging(destination);
    return finish(unzip_status::kFailed, failure, 0, entries);
  }
  DiscardStaging(destination);
  return finish(unzip_status::kSucceeded, "", entries, entries);
}

#include "package/zip_util.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "package/archive_check.h"
#include "package/entry_count.h"
#include "package/entry_mode.h"
#include "package/entry_name.h"
#include "package/entry_path.h"
#include "package/output_file.h"
#include "package/unzip_file.h"
#include "platform/files.h"

namespace {

const char* const kStartLine = "start unzip";
const char* const kEndLine = "end unzip";
const char* const kCreateDirectoryFail = "create directory fail: ";
const char* const kOpenZipFail = "open zip file fail: ";
const char* const kReadEntryInfoFail = "read entry info fail";
const char* const kExtractFileFail = "extract file fail: ";
const char* const kReadNextFail = "cannont read next file: ";
const char* const kUnsafeName = "entry leads outside the destination: ";
const char* const kOpenInzipFail = "open inzip file fail: ";
const char* const kOpenUnzipFail = "open unzip file fail: ";
const char* const kReadCurrentFail = "read current file fail: ";
const char* const kWriteUnzipFail = "write unzip file fail: ";
const char* const kSizeMismatch = "size mismatch in unzip file: ";
const char* const kChecksumMismatch = "crc mismatch in unzip file: ";

// Failures that come from the archive's bytes, not from the folder it is written to.
const char* const kArchiveFaults[] = {
    kOpenZipFail,  kReadEntryInfoFail, kReadNextFail,          kOpenInzipFail, kReadCurrentFail,
    kSizeMismatch, kChecksumMismatch,  kUnsupportedMethodHead, kEncryptedHead, kCannotHoldHead,
};

void PrintLine(const std::string& text) { std::printf("%s\n", text.c_str()); }

std::string WithFinalSeparator(const std::string& folder) {
  if (folder.empty() || folder.back() == '/' || folder.back() == '\\') return folder;
  return folder + platform::kPathSeparator;
}

// One folder level; a folder that is there already is fine, a file in its place is not.
bool EnsureDirectory(const std::string& path) { return platform::MakeDirectory(path) || platform::IsDirectory(path); }

// The final call of a run: "succ" or "fail" with its text and counts.
struct Outcome {
  std::string status;
  std::string payload;
  long long done = 0;
  long long total = 0;
};

Outcome Failure(const std::string& text, long long done = 0, long long total = 0) {
  return {unzip_status::kFailed, text, done, total};
}

// One run of UnzipAll over an open archive. The final call is left to the caller, which makes
// it once the archive is closed: the launcher may delete the archive, or show a dialog that
// blocks this thread, as soon as it hears the outcome.
class Extraction {
 public:
  Extraction(unzFile archive, std::string destination, const UnzipCallback& callback, long long count)
      : archive_(archive), destination_(std::move(destination)), callback_(callback), count_(count) {}

  const Outcome& failure() const { return failure_; }

  // Handles entry `index` (the current one) and moves to the next; false after a failure.
  bool HandleEntry(long long index) {
    if (!HandleCurrent(index)) return false;
    if (index + 1 < count_ && unzGoToNextFile(archive_) != UNZ_OK) {
      const std::string text = kReadNextFail + currentName_;
      PrintLine(text);
      return Fail(text, index);
    }
    return true;
  }

  // Handles entry `index`, the current one; false after a failure.
  bool HandleCurrent(long long index) {
    unz_file_info64 info{};
    StoredName stored;
    if (!ReadCurrentEntry(archive_, info, stored)) {
      PrintLine(kReadEntryInfoFail);
      return Fail(kReadEntryInfoFail, index);
    }
    const std::string localName = DecodeEntryName(stored);
    if ((localName.empty() && !stored.bytes.empty()) || !IsSafeEntryName(localName)) {
      PrintLine(kUnsafeName + stored.bytes);
      return Fail(kExtractFileFail + (localName.empty() ? stored.bytes : localName), index);
    }
    const EntryParts parts = SplitEntryName(localName);
    for (const auto& folder : parts.folders) {
      const std::string path = destination_ + folder + platform::kPathSeparator;
      if (!EnsureFolder(path)) return Fail(kCreateDirectoryFail + path, index);
    }
    if (!parts.file.empty()) {
      const std::string path = destination_ + parts.file;
      // The package itself holds a folder of this name: one of the two entries cannot be right.
      if (readyFolders_.count(path + platform::kPathSeparator) != 0) {
        PrintLine(kOpenUnzipFail + localName);
        return Fail(kExtractFileFail + localName, index);
      }
      std::string error;
      if (!ZipUtil::ExtractCurrent(archive_, localName, path, error)) {
        const std::string cause = ZipUtil::ArchiveFaultOf(error);
        return Fail(kExtractFileFail + localName + (cause.empty() ? "" : "\n" + cause), index);
      }
      writtenFiles_.insert(path);
    }
    Report(unzip_status::kEntryDone, localName, index + 1, count_);
    currentName_ = localName;
    return true;
  }

 private:
  // Entries of one package share their folders; each is created or found once per run. A link
  // in a folder's place is removed as a link and a real folder made, so that no entry is
  // written through it to wherever it points. A file there goes too when an earlier release
  // left it; one this package wrote means the package contradicts itself.
  bool EnsureFolder(const std::string& path) {
    if (readyFolders_.count(path) != 0) return true;
    const std::string name = path.substr(0, path.size() - 1);
    if (writtenFiles_.count(name) != 0 || !MakeFolderInPlace(name)) return false;
    readyFolders_.insert(path);
    return true;
  }

  void Report(const std::string& status, const std::string& payload, long long done, long long total) const {
    if (callback_) callback_(status, payload, done, total);
  }

  bool Fail(const std::string& text, long long index) {
    failure_ = Failure(text, index, count_);
    return false;
  }

  unzFile archive_;
  std::string destination_;
  const UnzipCallback& callback_;
  long long count_;
  std::set<std::string> readyFolders_;  // with the final separator
  std::set<std::string> writtenFiles_;
  Outcome failure_;
  std::string currentName_;
};

// One entry of a worker's share: its index and where its central header lies.
struct EntryPlace {
  long long index = 0;
  unz64_file_pos position{};
  std::uint64_t compressedBytes = 0;
};

struct Shares {
  std::vector<std::vector<EntryPlace>> lists;  // one per worker; empty: one after the other
  std::set<std::string> folders;               // every folder the names pass through
};

// The entries shared out between `workers` by their compressed size, each share in archive
// order. Empty when the entries must be unpacked one after the other: then the order of the
// archive decides (a name given twice is written by its last entry; a name that is a file
// and a folder both fails at the second), and the sequential run keeps that meaning.
Shares ShareOut(unzFile archive, std::uint64_t count, unsigned workers) {
  if (workers < 2 || count < 2) return {};
  std::vector<EntryPlace> entries;
  std::set<std::string> files;
  std::set<std::string> folders;
  for (std::uint64_t index = 0; index < count; ++index) {
    unz_file_info64 info{};
    StoredName stored;
    EntryPlace place;
    place.index = static_cast<long long>(index);
    if (!ReadCurrentEntry(archive, info, stored) || unzGetFilePos64(archive, &place.position) != UNZ_OK) return {};
    const std::string localName = DecodeEntryName(stored);
    if (localName.empty() || !IsSafeEntryName(localName)) return {};
    const EntryParts parts = SplitEntryName(localName);
    for (const auto& folder : parts.folders) folders.insert(folder);
    if (!parts.file.empty() && !files.insert(parts.file).second) return {};
    place.compressedBytes = info.compressed_size;
    entries.push_back(place);
    if (index + 1 < count && unzGoToNextFile(archive) != UNZ_OK) return {};
  }
  for (const auto& file : files) {
    if (folders.count(file) != 0) return {};
  }
  // Largest first onto the lightest share, then each share back in archive order for short seeks.
  std::vector<EntryPlace> bySize = entries;
  std::stable_sort(bySize.begin(), bySize.end(),
                   [](const EntryPlace& a, const EntryPlace& b) { return a.compressedBytes > b.compressedBytes; });
  Shares shares;
  shares.lists.resize(workers);
  shares.folders = std::move(folders);
  std::vector<std::uint64_t> load(workers, 0);
  for (const EntryPlace& entry : bySize) {
    const auto lightest = static_cast<std::size_t>(std::min_element(load.begin(), load.end()) - load.begin());
    shares.lists[lightest].push_back(entry);
    load[lightest] += entry.compressedBytes + 1;
  }
  for (auto& share : shares.lists) {
    std::sort(share.begin(), share.end(), [](const EntryPlace& a, const EntryPlace& b) { return a.index < b.index; });
  }
  return shares;
}

// The shares unpacked side by side, each worker with its own handle on the archive. Entries
// are reported as they finish, one at a time, counting up. The outcome's status is empty when
// every entry was unpacked; otherwise it is the first failure, after which no worker starts
// another entry.
Outcome ExtractShares(const std::string& archivePath, const std::string& destination, const UnzipCallback& callback,
                      long long count, const Shares& shares) {
  // Folders first, by one thread, outermost first: two workers making or replacing the same
  // folder at once could remove what the other had just written into it.
  for (const auto& folder : shares.folders) {
    const std::string path = destination + folder;
    if (!MakeFolderInPlace(path)) return Failure(kCreateDirectoryFail + path + platform::kPathSeparator, 0, count);
  }
  std::mutex mutex;
  long long finished = 0;
  Outcome failure;
  std::atomic<bool> stop{false};
  const UnzipCallback counting = [&](const std::string& status, const std::string& payload, long long, long long) {
    std::lock_guard<std::mutex> lock(mutex);
    ++finished;
    if (callback) callback(status, payload, finished, count);
  };
  const auto work = [&](const std::vector<EntryPlace>& share) {
    UnzipFile archive(archivePath);
    Extraction extraction(archive.get(), destination, counting, count);
    for (const EntryPlace& entry : share) {
      if (stop) return;
      unz64_file_pos position = entry.position;
      const bool placed = archive && unzGoToFilePos64(archive.get(), &position) == UNZ_OK;
      if (placed && extraction.HandleCurrent(entry.index)) continue;
      std::lock_guard<std::mutex> lock(mutex);
      if (!stop.exchange(true))
        failure = placed ? extraction.failure() : Failure(kReadEntryInfoFail, entry.index, count);
      return;
    }
  };
  {
    std::vector<std::thread> helpers;
    for (std::size_t at = 1; at < shares.lists.size(); ++at) helpers.emplace_back(work, std::cref(shares.lists[at]));
    work(shares.lists[0]);
    for (auto& helper : helpers) helper.join();
  }
  return failure;
}

// Everything of UnzipAll but its final call.
Outcome Extract(const std::string& archivePath, const std::string& destination, const UnzipCallback& callback,
                unsigned workers) {
  if (!EnsureDirectory(destination)) return Failure(kCreateDirectoryFail + destination);
  UnzipFile archive(archivePath);
  if (!archive && !IsEmptyArchive(archivePath)) {
    const std::string text = kOpenZipFail + archivePath;
    PrintLine(text);
    return Failure(text);
  }
  const auto count = archive ? static_cast<long long>(CountEntries(archive.get(), archivePath)) : 0LL;
  const std::string refusal = archive ? FindUninstallableEntry(archive.get(), static_cast<std::uint64_t>(count)) : "";
  if (!refusal.empty()) {
    PrintLine(refusal);
    return Failure(refusal, 0, count);
  }
  PrintLine(kStartLine);
  const Shares shares = ShareOut(archive.get(), static_cast<std::uint64_t>(count), workers);
  unzGoToFirstFile(archive.get());  // the walk of ShareOut may stop anywhere
  if (!shares.lists.empty()) {
    Outcome failure = ExtractShares(archivePath, destination, callback, count, shares);
    if (!failure.status.empty()) return failure;
  } else {
    Extraction extraction(archive.get(), destination, callback, count);
    for (long long index = 0; index < count; ++index) {
      if (!extraction.HandleEntry(index)) return extraction.failure();
    }
  }
  PrintLine(kEndLine);
  return {unzip_status::kSucceeded, "", count, count};
}

}  // namespace

bool ZipUtil::UnzipAll(const UnzipTask& task) { return UnzipAll(task.archivePath, task.destination, task.callback); }

bool ZipUtil::UnzipAll(const std::string& archivePath, const std::string& destinationFolder,
                       const UnzipCallback& callback) {
  return UnzipAll(archivePath, destinationFolder, callback, 1);
}

bool ZipUtil::UnzipAll(const std::string& archivePath, const std::string& destinationFolder,
                       const UnzipCallback& callback, unsigned workers) {
  Outcome outcome = Extract(archivePath, WithFinalSeparator(destinationFolder), callback, workers);
  // Every file is closed before the outcome is told: the caller may move or delete them next.
  if (!FinishClosingFiles() && outcome.status == unzip_status::kSucceeded) {
    const std::string text = kWriteUnzipFail + destinationFolder;
    PrintLine(text);
    outcome = Failure(kExtractFileFail + destinationFolder, outcome.done, outcome.total);
  }
  if (callback) callback(outcome.status, outcome.payload, outcome.done, outcome.total);
  return outcome.status == unzip_status::kSucceeded;
}

std::string ZipUtil::ArchiveFaultOf(const std::string& payload) {
  std::size_t start = 0;
  while (start <= payload.size()) {
    const std::size_t end = std::min(payload.find('\n', start), payload.size());
    const std::string line = payload.substr(start, end - start);
    for (const char* fault : kArchiveFaults) {
      if (line.starts_with(fault)) return line;
    }
    start = end + 1;
  }
  return "";
}

namespace {

// The reason an entry could not be written, on standard output and in `error`.
bool Refuse(const char* head, const std::string& localName, std::string& error) {
  error = head + localName;
  PrintLine(error);
  return false;
}

}  // namespace

bool ZipUtil::ExtractCurrent(unzFile archive, const std::string& localName, const std::string& outputPath,
                             std::string& error) {
  unz_file_info64 info{};
  if (unzGetCurrentFileInfo64(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
    return Refuse(kOpenInzipFail, localName, error);
  }
  OpenEntry entry(archive);
  if (!entry) return Refuse(kOpenInzipFail, localName, error);
  OutputFile output(outputPath, KindOfEntry(info.version, info.external_fa).permissions);
  if (!output) return Refuse(kOpenUnzipFail, localName, error);

  // A damaged entry must not stay behind looking like a good file.
  const auto discard = [&output, &outputPath, &localName, &error](const char* head) {
    output.Close();
    FinishClosingFiles();  // a file still open cannot be removed on Windows
    platform::RemoveFile(outputPath);
    return Refuse(head, localName, error);
  };
  const auto block = std::make_unique_for_overwrite<char[]>(kCopyBlockBytes);
  std::uint64_t written = 0;
  uLong checksum = crc32(0L, Z_NULL, 0);
  for (;;) {
    const int count = unzReadCurrentFile(archive, block.get(), static_cast<unsigned>(kCopyBlockBytes));
    if (count < 0) return discard(kReadCurrentFail);
    if (count == 0) break;
    if (!output.Write(block.get(), static_cast<std::size_t>(count))) return discard(kWriteUnzipFail);
    checksum = crc32(checksum, reinterpret_cast<const Bytef*>(block.get()), static_cast<uInt>(count));
    written += static_cast<std::uint64_t>(count);
  }
  if (!output.Close()) return discard(kWriteUnzipFail);
  // minizip checks the checksum only when the whole declared size was read, and not at all for
  // raw reads, so the size and the checksum of what was written are compared here, always.
  if (written != info.uncompressed_size) return discard(kSizeMismatch);
  if (checksum != info.crc || entry.Close() != UNZ_OK) return discard(kChecksumMismatch);
  return true;
}

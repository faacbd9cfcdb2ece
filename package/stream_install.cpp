#include "package/stream_install.h"

#include <cstdio>

#include "package/archive_check.h"
#include "package/entry_count.h"
#include "package/entry_mode.h"
#include "package/entry_name.h"
#include "package/entry_path.h"
#include "package/staging.h"
#include "package/unzip_file.h"
#include "package/zip_util.h"
#include "platform/files.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// The entry's own bits, as unpacking would have given them when the file was made; never
// through a link.
bool GivePermissions(const std::string& path, std::uint32_t permissions) {
#ifdef _WIN32
  (void)path;
  (void)permissions;
  return true;
#else
  const int descriptor = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (descriptor < 0) return false;
  const bool given = fchmod(descriptor, static_cast<mode_t>(permissions & 0777)) == 0;
  close(descriptor);
  return given;
#endif
}

std::string Mismatch(const char* what, const std::string& name) {
  return std::string("the central directory gives another ") + what + " for " + name;
}

}  // namespace

std::string CompareWithCentralDirectory(const std::string& archivePath, const StreamOutcome& outcome,
                                        const std::string& staging) {
  UnzipFile archive(archivePath);
  if (!archive) return "the central directory cannot be read";
  const std::uint64_t count = CountEntries(archive.get(), archivePath);
  if (count != outcome.entries.size()) {
    return "the central directory lists " + std::to_string(count) + " entries, the local headers " +
           std::to_string(outcome.entries.size());
  }
  const std::string refusal = FindUninstallableEntry(archive.get(), count);
  if (!refusal.empty()) return refusal;
  std::vector<std::pair<std::string, std::uint32_t>> permissions;
  for (std::uint64_t index = 0; index < count; ++index) {
    if (index != 0 && unzGoToNextFile(archive.get()) != UNZ_OK) return "the central directory ends early";
    unz_file_info64 info{};
    StoredName stored;
    if (!ReadCurrentEntry(archive.get(), info, stored)) return "a central header cannot be read";
    const StreamedEntry& entry = outcome.entries[index];
    const std::string name = DecodeEntryName(stored);
    if (name != entry.name) return Mismatch("name", entry.name);
    if (info.compression_method != entry.method) return Mismatch("method", name);
    if (info.crc != entry.crc32) return Mismatch("CRC-32", name);
    if (info.compressed_size != entry.compressedSize || info.uncompressed_size != entry.size)
      return Mismatch("size", name);
    // Where the entry's data lies, as its local header read from the central directory's offset says.
    if (unzOpenCurrentFile2(archive.get(), nullptr, nullptr, 1) != UNZ_OK) return Mismatch("local header", name);
    const ZPOS64_T dataOffset = unzGetCurrentFileZStreamPos64(archive.get());
    unzCloseCurrentFile(archive.get());
    if (dataOffset != entry.dataOffset) return Mismatch("place", name);
    const EntryParts parts = SplitEntryName(name);
    const EntryKind kind = KindOfEntry(info.version, info.external_fa);
    if (!parts.file.empty() && kind.permissions) permissions.emplace_back(parts.file, *kind.permissions);
  }
  for (const auto& [file, bits] : permissions) {
    if (!GivePermissions(staging + platform::kPathSeparator + file, bits)) return "cannot set the mode of " + file;
  }
  return "";
}

bool InstallStreamed(const UnzipTask& task, StreamUnpack& stream) {
  const StreamOutcome outcome = stream.Finish();
  const std::string staging = StagingFolderOf(task.destination);
  std::string reason =
      outcome.complete ? CompareWithCentralDirectory(task.archivePath, outcome, staging) : outcome.reason;
  if (!reason.empty()) {
    std::printf("unpacking after the download: %s\n", reason.c_str());
    return InstallThroughStaging(task);
  }
  const auto entries = static_cast<long long>(outcome.entries.size());
  std::string failure;
  const bool succeeded = CommitStaged(staging, task.destination, task.callback, failure);
  DiscardStaging(task.destination);
  if (task.callback) {
    if (succeeded) {
      task.callback(unzip_status::kSucceeded, "", entries, entries);
    } else {
      task.callback(unzip_status::kFailed, failure, 0, entries);
    }
  }
  return succeeded;
}

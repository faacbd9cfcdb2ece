#include "tools/publish/file_list_check.h"

#include <minizip/unzip.h>

#include <fstream>
#include <memory>
#include <unordered_set>

#include "package/remote_zip.h"
#include "platform/hash_stream.h"

namespace publish {
namespace {

struct UnzipCloser {
  void operator()(void* zip) const { unzClose(static_cast<unzFile>(zip)); }
};
using UnzipHandle = std::unique_ptr<void, UnzipCloser>;

// `size` bytes from `offset` of the file; empty when they cannot all be read.
std::string ReadAt(const std::filesystem::path& file, std::uint64_t offset, std::uint64_t size) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes(size, '\0');
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(bytes.data(), static_cast<std::streamsize>(size));
  return in && static_cast<std::uint64_t>(in.gcount()) == size ? bytes : std::string();
}

// The entries as a launcher reads them by ranges; false after adding the problem.
bool ReadDirectory(const std::filesystem::path& archive, std::vector<RemoteEntry>& entries,
                   std::vector<std::string>& problems) {
  std::error_code error;
  const std::uint64_t size = std::filesystem::file_size(archive, error);
  if (error) {
    problems.push_back("the archive cannot be read for its file list");
    return false;
  }
  std::uint64_t tailBytes = std::min(size, kEndRecordSearchBytes);
  DirectoryLookup lookup;
  for (int round = 0; round < 3; ++round) {
    lookup = FindCentralDirectory(ReadAt(archive, size - tailBytes, tailBytes), size);
    if (lookup.kind != DirectoryLookup::Kind::kNeedTail) break;
    tailBytes = lookup.tailBytes;
  }
  if (lookup.kind != DirectoryLookup::Kind::kFound) {
    problems.push_back("launchers cannot find the archive's central directory from its end");
    return false;
  }
  const std::string directory = ReadAt(archive, lookup.place.offset, lookup.place.size);
  if (directory.size() != lookup.place.size || !ParseCentralDirectory(directory, lookup.place, entries)) {
    problems.push_back("launchers cannot read the archive's central directory");
    return false;
  }
  return true;
}

std::string InflatedSha256(unzFile zip, const std::string& name, bool* crcHolds) {
  *crcHolds = false;
  if (unzLocateFile(zip, name.c_str(), 1) != UNZ_OK || unzOpenCurrentFile(zip) != UNZ_OK) return "";
  platform::HashStream sha256(platform::HashKind::Sha256);
  std::vector<char> block(1 << 16);
  int got = 0;
  while ((got = unzReadCurrentFile(zip, block.data(), static_cast<unsigned>(block.size()))) > 0) {
    sha256.Update(block.data(), static_cast<std::size_t>(got));
  }
  *crcHolds = unzCloseCurrentFile(zip) == UNZ_OK && got == 0;
  return sha256.Finish();
}

}  // namespace

std::vector<std::string> FileListProblems(const std::filesystem::path& archive, const std::vector<ManifestFile>& files,
                                          std::size_t maxProblems) {
  std::vector<std::string> problems;
  std::vector<RemoteEntry> entries;
  if (!ReadDirectory(archive, entries, problems)) return problems;

  std::size_t more = 0;
  const auto add = [&](const std::string& text) {
    if (problems.size() + 1 < maxProblems) {
      problems.push_back(text);
    } else {
      ++more;
    }
  };
  std::vector<std::size_t> entryOf;
  if (CheckDirectoryAgrees(entries, files, entryOf)) {
    // Name the files that differ, as the launcher only knows that one does.
    for (const auto& file : files) {
      std::vector<std::size_t> one;
      if (CheckDirectoryAgrees(entries, {file}, one)) {
        add("listed file " + file.path + " has no entry of that name, size (" + std::to_string(file.size) +
            ") and CRC-32 (" + std::to_string(file.crc32) + ") stored or deflated in the archive");
      }
    }
  }
  std::unordered_set<std::string> listed;
  for (const auto& file : files) listed.insert(file.path);
  for (const auto& entry : entries) {
    if (!entry.name.empty() && entry.name.back() != '/' && listed.count(entry.name) == 0) {
      add("archive entry " + entry.name + " is missing from the file list");
    }
  }

  UnzipHandle zip(unzOpen64(archive.c_str()));
  if (!zip) {
    add("the archive cannot be opened to check the listed SHA-256 digests");
  } else {
    for (const auto& file : files) {
      bool crcHolds = false;
      const std::string sha256 = InflatedSha256(static_cast<unzFile>(zip.get()), file.path, &crcHolds);
      if (sha256.empty()) continue;  // no such entry: named above
      if (!crcHolds) {
        add("listed file " + file.path + " does not inflate with its entry's CRC-32");
      } else if (sha256 != file.sha256) {
        add("listed file " + file.path + " has SHA-256 " + sha256 + " in the archive, the list says " + file.sha256);
      }
    }
  }
  if (more != 0) problems.push_back(std::to_string(more) + " more problems with the file list");
  return problems;
}

}  // namespace publish

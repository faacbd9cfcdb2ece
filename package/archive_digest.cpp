#include "package/archive_digest.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>
#include <vector>

#include "platform/files.h"

namespace {

// Large enough that a read costs little next to the hashing, small enough to keep memory flat.
constexpr std::size_t kReadBlock = 1024 * 1024;

struct FileStamp {
  std::uint64_t size = 0;
  std::filesystem::file_time_type modified{};
  bool operator==(const FileStamp& other) const { return size == other.size && modified == other.modified; }
};

std::optional<FileStamp> StampOf(const std::string& path) {
  FileStamp stamp;
  if (!platform::FileSize(path, &stamp.size)) return std::nullopt;
  std::error_code error;
  stamp.modified = std::filesystem::last_write_time(platform::NativePath(path), error);
  if (error) return std::nullopt;
  return stamp;
}

struct MemoEntry {
  FileStamp stamp;
  ArchiveDigests digests;
};

std::mutex memoMutex;
std::map<std::string, MemoEntry>& Memo() {
  static auto* memo = new std::map<std::string, MemoEntry>();  // process-wide, never destroyed
  return *memo;
}

}  // namespace

ArchiveDigest::ArchiveDigest(bool withSha256) : withSha256_(withSha256) { Reset(); }

void ArchiveDigest::Reset() {
  md5_ = std::make_unique<platform::HashStream>(platform::HashKind::Md5);
  sha256_ = withSha256_ ? std::make_unique<platform::HashStream>(platform::HashKind::Sha256) : nullptr;
  bytes_ = 0;
  spoiled_ = false;
}

void ArchiveDigest::Update(const char* data, std::size_t size) {
  md5_->Update(data, size);
  if (sha256_) sha256_->Update(data, size);
  bytes_ += size;
}

std::optional<ArchiveDigests> ArchiveDigest::Finish() {
  if (spoiled_) return std::nullopt;
  spoiled_ = true;  // the streams are ended; only a Reset makes the digest usable again
  ArchiveDigests digests;
  digests.md5 = md5_->Finish();
  digests.sha256 = sha256_ ? sha256_->Finish() : std::string();
  digests.bytes = bytes_;
  if (digests.md5.empty() || (withSha256_ && digests.sha256.empty())) return std::nullopt;
  return digests;
}

bool HashFilePrefix(const std::string& path, std::uint64_t bytes, ArchiveDigest& digest) {
  digest.Reset();
  if (bytes == 0) return true;
  std::ifstream file(platform::NativePath(path), std::ios::binary);
  if (!file) {
    digest.Spoil();
    return false;
  }
  std::vector<char> block(kReadBlock);
  std::uint64_t remaining = bytes;
  while (remaining > 0) {
    const std::size_t wanted = remaining < block.size() ? static_cast<std::size_t>(remaining) : block.size();
    file.read(block.data(), static_cast<std::streamsize>(wanted));
    const auto read = static_cast<std::size_t>(file.gcount());
    digest.Update(block.data(), read);
    remaining -= read;
    if (read < wanted) break;
  }
  if (remaining != 0) digest.Spoil();
  return remaining == 0;
}

std::optional<ArchiveDigests> HashWholeFile(const std::string& path, bool withSha256) {
  std::uint64_t size = 0;
  if (!platform::FileSize(path, &size)) return std::nullopt;
  ArchiveDigest digest(withSha256);
  if (!HashFilePrefix(path, size, digest)) return std::nullopt;
  return digest.Finish();
}

void DigestMemo::Remember(const std::string& path, const ArchiveDigests& digests) {
  const auto stamp = StampOf(path);
  std::lock_guard<std::mutex> lock(memoMutex);
  if (!stamp || stamp->size != digests.bytes) {
    Memo().erase(path);
    return;
  }
  Memo()[path] = MemoEntry{*stamp, digests};
}

std::optional<ArchiveDigests> DigestMemo::Find(const std::string& path) {
  const auto stamp = StampOf(path);
  std::lock_guard<std::mutex> lock(memoMutex);
  const auto it = Memo().find(path);
  if (!stamp || it == Memo().end() || !(it->second.stamp == *stamp)) return std::nullopt;
  return it->second.digests;
}

void DigestMemo::Forget(const std::string& path) {
  std::lock_guard<std::mutex> lock(memoMutex);
  Memo().erase(path);
}

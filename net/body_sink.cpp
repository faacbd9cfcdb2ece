#include "net/body_sink.h"

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

#include "package/archive_digest.h"
#include "package/growing_archive.h"
#include "platform/files.h"

namespace {

// Never through a link: a fresh file replaces whatever link held the name, and a resumed one
// must be a plain file of its own.
std::FILE* OpenFor(const std::string& path, std::uint64_t offset) {
  return platform::OpenFileNoFollow(path, offset != 0 ? platform::WriteMode::Append : platform::WriteMode::Replace);
}

}  // namespace

BodySink::BodySink(std::string path, std::uint64_t limit, ArchiveDigest* digest, GrowingArchive* growing)
    : path_(std::move(path)),
      limit_(limit),
      digest_(path_.empty() ? nullptr : digest),
      growing_(path_.empty() ? nullptr : growing) {}

void BodySink::Announce(std::uint64_t offset) {
  if (growing_ == nullptr) return;
  if (offset == 0) {
    growing_->Replacing();
  } else {
    growing_->SetAvailable(offset);
  }
}

BodySink::~BodySink() { WaitForDigest(); }

void BodySink::CatchUpDigest(std::uint64_t offset) {
  WaitForDigest();
  if (digest_ == nullptr || (!digest_->Spoiled() && digest_->Bytes() == offset)) return;
  if (offset == 0) {
    digest_->Reset();
    return;
  }
  std::printf("hashing the %llu bytes already downloaded\n", static_cast<unsigned long long>(offset));
  try {
    catchUp_ = std::thread([this, offset] { HashFilePrefix(path_, offset, *digest_); });
  } catch (const std::system_error&) {
    HashFilePrefix(path_, offset, *digest_);  // no thread to be had: hash before the transfer
  }
}

void BodySink::WaitForDigest() {
  if (catchUp_.joinable()) catchUp_.join();
}

bool BodySink::Open(std::uint64_t offset, std::uint64_t& allowed) {
  allowed = 0;
  if (path_.empty()) {
    memory_.clear();
    position_ = 0;
    return true;
  }
  // A link in the archive's place is never continued nor cut (the no-follow size refuses it):
  // the download starts over and the link is replaced by a file of its own.
  if (offset != 0) {
    std::error_code error;
    std::uint64_t size = 0;
    if (!platform::FileSize(path_, &size)) error = std::make_error_code(std::errc::no_such_file_or_directory);
    if (!error && size > offset) {
      Announce(offset);  // before the cut: a reader must not take bytes that go
      std::filesystem::resize_file(platform::NativePath(path_), offset, error);
    }
    if (error || size < offset) {
      std::printf("cannot resume %s from %llu bytes, downloading from the start\n", path_.c_str(),
                  static_cast<unsigned long long>(offset));
      offset = 0;
    }
  }
  Announce(offset);
  file_.reset(OpenFor(path_, offset));
  if (!file_) return false;
  position_ = offset;
  allowed = offset;
  CatchUpDigest(offset);
  return true;
}

bool BodySink::Write(const char* data, std::size_t size) {
  if (limit_ != 0 && position_ + size > limit_) return false;
  if (path_.empty()) {
    memory_.append(data, size);
  } else {
    WaitForDigest();
    if (!file_ || std::fwrite(data, 1, size, file_.get()) != size) {
      if (digest_ != nullptr) digest_->Spoil();  // part of the block may be in the file
      return false;
    }
    if (digest_ != nullptr) digest_->Update(data, size);
    if (growing_ != nullptr) {
      if (std::fflush(file_.get()) != 0) {
        if (digest_ != nullptr) digest_->Spoil();
        return false;
      }
      growing_->SetAvailable(position_ + size);
    }
  }
  position_ += size;
  return true;
}

bool BodySink::Restart(std::uint64_t offset) {
  if (offset > position_) return false;
  if (path_.empty()) {
    memory_.resize(static_cast<std::size_t>(offset));
    position_ = offset;
    return true;
  }
  if (file_ && !Close()) return false;
  std::error_code error;
  if (offset != 0 && platform::IsLink(path_)) return false;
  Announce(offset);
  if (offset != 0) std::filesystem::resize_file(platform::NativePath(path_), offset, error);
  if (error) return false;
  file_.reset(OpenFor(path_, offset));
  position_ = offset;
  if (file_ == nullptr) return false;
  CatchUpDigest(offset);
  return true;
}

bool BodySink::Close() {
  WaitForDigest();
  if (!file_) return true;
  std::FILE* raw = file_.release();
  const bool flushed = std::fflush(raw) == 0;
  const bool closed = std::fclose(raw) == 0 && flushed;
  // Bytes the digest saw may not have reached the file.
  if (!closed && digest_ != nullptr) digest_->Spoil();
  return closed;
}

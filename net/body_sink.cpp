#include "net/body_sink.h"

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

#include "platform/files.h"

namespace {

// Never through a link: a fresh file replaces whatever link held the name, and a resumed one
// must be a plain file of its own.
std::FILE* OpenFor(const std::string& path, std::uint64_t offset) {
  return platform::OpenFileNoFollow(path, offset != 0 ? platform::WriteMode::Append : platform::WriteMode::Replace);
}

}  // namespace

BodySink::BodySink(std::string path, std::uint64_t limit) : path_(std::move(path)), limit_(limit) {}

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
    if (!error && size > offset) std::filesystem::resize_file(platform::NativePath(path_), offset, error);
    if (error || size < offset) {
      std::printf("cannot resume %s from %llu bytes, downloading from the start\n", path_.c_str(),
                  static_cast<unsigned long long>(offset));
      offset = 0;
    }
  }
  file_.reset(OpenFor(path_, offset));
  if (!file_) return false;
  position_ = offset;
  allowed = offset;
  return true;
}

bool BodySink::Write(const char* data, std::size_t size) {
  if (limit_ != 0 && position_ + size > limit_) return false;
  if (path_.empty()) {
    memory_.append(data, size);
  } else if (!file_ || std::fwrite(data, 1, size, file_.get()) != size) {
    return false;
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
  if (offset != 0) std::filesystem::resize_file(platform::NativePath(path_), offset, error);
  if (error) return false;
  file_.reset(OpenFor(path_, offset));
  position_ = offset;
  return file_ != nullptr;
}

bool BodySink::Close() {
  if (!file_) return true;
  std::FILE* raw = file_.release();
  const bool flushed = std::fflush(raw) == 0;
  return std::fclose(raw) == 0 && flushed;
}

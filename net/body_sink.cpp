#include "net/body_sink.h"

#include <filesystem>
#include <system_error>
#include <utility>

BodySink::BodySink(std::string path, std::uint64_t limit) : path_(std::move(path)), limit_(limit) {}

bool BodySink::Open(std::uint64_t offset, std::uint64_t& allowed) {
  allowed = 0;
  if (path_.empty()) {
    memory_.clear();
    position_ = 0;
    return true;
  }
  if (offset != 0) {
    std::error_code error;
    const std::uint64_t size = std::filesystem::file_size(path_, error);
    if (!error && size > offset) std::filesystem::resize_file(path_, offset, error);
    if (error || size < offset) {
      std::printf("cannot resume %s from %llu bytes, downloading from the start\n", path_.c_str(),
                  static_cast<unsigned long long>(offset));
      offset = 0;
    }
  }
  file_.reset(std::fopen(path_.c_str(), offset != 0 ? "ab+" : "wb"));
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
  if (offset != 0) std::filesystem::resize_file(path_, offset, error);
  if (error) return false;
  file_.reset(std::fopen(path_.c_str(), offset != 0 ? "ab+" : "wb"));
  position_ = offset;
  return file_ != nullptr;
}

bool BodySink::Close() {
  if (!file_) return true;
  std::FILE* raw = file_.release();
  const bool flushed = std::fflush(raw) == 0;
  return std::fclose(raw) == 0 && flushed;
}

#include "package/growing_archive.h"

#include <algorithm>
#include <utility>

#include "platform/files.h"

void GrowingArchive::SetAvailable(std::uint64_t bytes) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (bytes < granted_) spoiled_ = true;
    available_ = bytes;
  }
  changed_.notify_all();
}

void GrowingArchive::Replacing() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (granted_ != 0) spoiled_ = true;
  available_ = 0;
  changed_.notify_all();
  changed_.wait_for(lock, std::chrono::milliseconds(kReleaseWaitMs), [this] { return !readerHolds_; });
}

void GrowingArchive::End(bool complete) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    complete_ = complete;
  }
  changed_.notify_all();
}

void GrowingArchive::Cancel() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = true;
  }
  changed_.notify_all();
}

std::uint64_t GrowingArchive::Wait(std::uint64_t end) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (Stopped()) return 0;
    if (available_ >= end) {
      if (available_ > granted_) {
        granted_ = available_;  // the reader may take all that is there
        changed_.notify_all();
      }
      return available_;
    }
    if (ended_) return 0;
    const std::uint64_t before = available_;
    // Bounded: a download that neither grows nor ends for this long has gone away.
    if (!changed_.wait_for(lock, std::chrono::milliseconds(kMaxWaitMs),
                           [this, before] { return Stopped() || ended_ || available_ != before; }))
      return 0;
  }
}

bool GrowingArchive::WaitUntilGranted(std::uint64_t bytes, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, limit, [this, bytes] { return granted_ >= bytes || Stopped(); }) && granted_ >= bytes;
}

bool GrowingArchive::WaitFor(std::uint64_t end) { return end == 0 || Wait(end) != 0; }

std::uint64_t GrowingArchive::WaitPast(std::uint64_t position) { return Wait(position + 1); }

bool GrowingArchive::WaitForEnd() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(kMaxWaitMs), [this] { return Stopped() || ended_; });
  return ended_ && complete_ && !Stopped();
}

void GrowingArchive::SetReaderHolds(bool holds) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    readerHolds_ = holds;
  }
  changed_.notify_all();
}

bool GrowingArchive::Complete() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ended_ && complete_ && !spoiled_;
}

bool GrowingArchive::Spoiled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return spoiled_;
}

GrowingArchiveReader::GrowingArchiveReader(std::string path, GrowingArchive& archive)
    : path_(std::move(path)), archive_(archive) {}

GrowingArchiveReader::~GrowingArchiveReader() { Close(); }

void GrowingArchiveReader::Close() {
  if (file_.is_open()) {
    file_.close();
    archive_.SetReaderHolds(false);
  }
  closed_ = true;
}

// Reads bytes the archive has granted: they are in the file, flushed by the writer.
bool GrowingArchiveReader::ReadGranted(char* data, std::size_t size) {
  if (closed_) return false;
  if (!file_.is_open()) {
    // Opened once the first bytes are there: before that the download may still replace the file.
    archive_.SetReaderHolds(true);
    file_.open(platform::NativePath(path_), std::ios::binary);
    if (!file_.is_open()) {
      archive_.SetReaderHolds(false);
      return false;
    }
    file_.seekg(static_cast<std::streamoff>(position_));
  }
  file_.clear();
  file_.read(data, static_cast<std::streamsize>(size));
  if (file_.gcount() != static_cast<std::streamsize>(size)) return false;
  position_ += size;
  return true;
}

bool GrowingArchiveReader::Read(char* data, std::size_t size) {
  return archive_.WaitFor(position_ + size) && ReadGranted(data, size);
}

std::size_t GrowingArchiveReader::ReadSome(char* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint64_t available = archive_.WaitPast(position_);
  if (available <= position_) return 0;
  const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(size, available - position_));
  return ReadGranted(data, count) ? count : 0;
}

bool GrowingArchiveReader::Skip(std::uint64_t size) {
  char block[4096];
  while (size > 0) {
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(size, sizeof block));
    if (!Read(block, count)) return false;
    size -= count;
  }
  return true;
}

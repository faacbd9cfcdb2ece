// An archive file while it is being downloaded, read by another thread as it grows.
//
// The download publishes how many bytes the file holds (after they were flushed to it) and
// when it ends; the reader waits for the bytes it needs. Policy: a wait ends as soon as the
// bytes are there, the download ends short of them, the reader is cancelled, or the bytes the
// reader was granted are cut from the file (a server that answers a range with the whole body,
// a partial file that could not be continued): bytes once handed out are never taken back, so
// such a cut spoils the reading for good. No wait lasts longer than kMaxWaitMs without a byte
// arriving; the download's own stall rule ends it long before that.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>

class GrowingArchive {
 public:
  static constexpr int kMaxWaitMs = 5 * 60 * 1000;
  // How long a cut waits for the reader to let go of the file (Windows cannot remove it while open).
  static constexpr int kReleaseWaitMs = 5000;

  // Writer side. The file holds `bytes` bytes now; fewer than were granted spoils the reading.
  void SetAvailable(std::uint64_t bytes);
  // The file is about to be replaced by a new one: the reading is spoiled when it was granted
  // any byte, and the call returns once the reader has closed the file (or after kReleaseWaitMs).
  void Replacing();
  // No more bytes will come; `complete` when the download succeeded.
  void End(bool complete);
  // Waits until the reader has been granted at least `bytes` bytes (or the reading stopped, or
  // `limit` passed); true when it has been.
  bool WaitUntilGranted(std::uint64_t bytes, std::chrono::milliseconds limit);

  // Either side: ends every wait with false, for good.
  void Cancel();

  // Reader side. Waits until the file holds at least `end` bytes; false when it never will.
  bool WaitFor(std::uint64_t end);
  // Waits until the file holds more than `position` bytes; the bytes held then, or 0 when no
  // more will come.
  std::uint64_t WaitPast(std::uint64_t position);
  // Waits until the download has ended (or the reading is cancelled or spoiled, or kMaxWaitMs
  // pass); true when it ended complete and nothing the reader took was cut.
  bool WaitForEnd();
  // The reader holds the file open (true) or has closed it (false).
  void SetReaderHolds(bool holds);

  bool Complete() const;
  bool Spoiled() const;

 private:
  bool Stopped() const { return spoiled_ || cancelled_; }
  std::uint64_t Wait(std::uint64_t end);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t available_ = 0;
  std::uint64_t granted_ = 0;
  bool ended_ = false;
  bool complete_ = false;
  bool spoiled_ = false;
  bool cancelled_ = false;
  bool readerHolds_ = false;
};

// Sequential reads of a growing archive from its start, each waiting for its bytes.
class GrowingArchiveReader {
 public:
  GrowingArchiveReader(std::string path, GrowingArchive& archive);
  ~GrowingArchiveReader();
  GrowingArchiveReader(const GrowingArchiveReader&) = delete;
  GrowingArchiveReader& operator=(const GrowingArchiveReader&) = delete;

  // Exactly `size` bytes; false when they do not all come.
  bool Read(char* data, std::size_t size);
  // Between 1 and `size` bytes, as many as are there; 0 when no more will come.
  std::size_t ReadSome(char* data, std::size_t size);
  // Reads and drops `size` bytes.
  bool Skip(std::uint64_t size);
  std::uint64_t Position() const { return position_; }
  // Closes the file; later reads fail.
  void Close();

 private:
  bool ReadGranted(char* data, std::size_t size);

  std::string path_;
  GrowingArchive& archive_;
  std::ifstream file_;
  bool closed_ = false;
  std::uint64_t position_ = 0;
};

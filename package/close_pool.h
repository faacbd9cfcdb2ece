// Files closed by threads of their own.
//
// Policy: on Windows, closing a file just written can block for a long time while a virus
// scanner reads it; the thread inflating the next entry should not wait for that. Two closing
// threads take the files in turn; at most 64 wait for them, beyond which handing over waits
// (memory stays bounded whatever the scanner does). The closing threads live as long as the
// process, as the launcher's other workers do.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <mutex>

class ClosePool {
 public:
  static constexpr std::size_t kThreads = 2;
  static constexpr std::size_t kMaxWaiting = 64;

  // The process's pool.
  static ClosePool& Shared();

  // Hands `file` (flushed by the caller) over to be closed.
  void Close(std::FILE* file);
  // Waits until every file handed over has been closed. False when any close since the last
  // Drain failed (the file's data may not all be stored).
  bool Drain();

 private:
  void Work();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::FILE*> waiting_;
  std::size_t closing_ = 0;
  std::size_t started_ = 0;
  bool failed_ = false;
};

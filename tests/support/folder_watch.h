// Wakes a waiter when anything in one folder is created, written or renamed (inotify), so a test
// waits for the files a server writes instead of reading them again on a timer.
#pragma once

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

namespace testsupport {

class FolderWatch {
 public:
  // Start watching before the action whose files are awaited, so no change is missed.
  explicit FolderWatch(const std::filesystem::path& folder) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_ >= 0 && ::inotify_add_watch(fd_, folder.c_str(),
                                        IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE) < 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~FolderWatch() {
    if (fd_ >= 0) ::close(fd_);
  }
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // Blocks until something in the folder changed since the last call, or `deadline`; false at the deadline.
  bool WaitForChange(std::chrono::steady_clock::time_point deadline) {
    if (fd_ < 0) return false;
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd ready{fd_, POLLIN, 0};
      if (::poll(&ready, 1, static_cast<int>(left.count())) > 0) {
        alignas(inotify_event) char events[4096];
        while (::read(fd_, events, sizeof events) > 0) {
        }
        return true;
      }
    }
  }

 private:
  int fd_;
};

}  // namespace testsupport

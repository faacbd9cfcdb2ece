// Message boxes on a terminal, for machines without a display: the box is printed with its
// caption and answered on standard input (r = Retry, c = Cancel, Enter = OK; end of input = Cancel).
#pragma once

#include <atomic>
#include <cstdio>
#include <mutex>

#include "platform/dialogs.h"

namespace platform {

class TerminalDialogs : public Dialogs {
 public:
  TerminalDialogs(std::FILE* in, std::FILE* out) : in_(in), out_(out) {}
  void BringMainWindowToFront() override {}
  int Show(const std::string& text, const std::string& caption, unsigned style) override;
  // True while a box waits for its answer; a status line must not overwrite it then.
  bool Open() const { return open_.load(); }

 private:
  std::mutex mutex_;  // one box at a time, as boxes of several workers would interleave
  std::FILE* in_;
  std::FILE* out_;
  std::atomic<bool> open_{false};
};

}  // namespace platform

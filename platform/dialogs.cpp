#include "platform/dialogs.h"

#include <atomic>

#include "platform/terminal_dialogs.h"

namespace platform {
namespace {

std::atomic<Dialogs*> current{nullptr};

}  // namespace

Dialogs& CurrentDialogs() {
  if (Dialogs* dialogs = current.load()) return *dialogs;
  // Until a front end chooses, boxes go to the terminal.
  static TerminalDialogs fallback(stdin, stderr);
  return fallback;
}

void SetCurrentDialogs(Dialogs* dialogs) { current.store(dialogs); }

}  // namespace platform

// Message boxes of the Windows build: no owner window, texts converted from GBK to UTF-16 so
// they read right whatever the system's language.
#pragma once

#include <windows.h>

#include <atomic>

#include "platform/dialogs.h"

namespace platform::win32 {

class MessageBoxDialogs : public Dialogs {
 public:
  // The window brought to the foreground before each box; none until the splash exists.
  void SetMainWindow(HWND window) { mainWindow_.store(window); }
  void BringMainWindowToFront() override;
  int Show(const std::string& text, const std::string& caption, unsigned style) override;

 private:
  std::atomic<HWND> mainWindow_{nullptr};
};

}  // namespace platform::win32

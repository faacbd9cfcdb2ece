#include "platform/win32/message_box_dialogs.h"

#include "platform/win32/wide_text.h"

namespace platform::win32 {

void MessageBoxDialogs::BringMainWindowToFront() {
  if (HWND window = mainWindow_.load()) SetForegroundWindow(window);
}

int MessageBoxDialogs::Show(const std::string& text, const std::string& caption, unsigned style) {
  // No owner: the box blocks only the calling thread, and the splash keeps animating.
  return MessageBoxW(nullptr, GbkToWide(text).c_str(), GbkToWide(caption).c_str(), style);
}

}  // namespace platform::win32

// Message boxes. Callable from any thread; they block only the caller while the splash animates.
#pragma once

#include <string>

namespace platform {

// The Win32 values, so the Windows build passes them straight through.
enum MessageBoxStyle : unsigned {
  kOkBox = 0x0000u,
  kRetryCancelBox = 0x0005u,
  kErrorIcon = 0x0010u,
  kSystemModal = 0x1000u,
};
enum DialogAnswer : int { kAnswerOk = 1, kAnswerCancel = 2, kAnswerRetry = 4 };

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // SetForegroundWindow on the main window before every box.
  virtual void BringMainWindowToFront() = 0;
  // Texts are GBK. Returns one of DialogAnswer.
  virtual int Show(const std::string& text, const std::string& caption, unsigned style) = 0;
};

// The process-wide dialogs, chosen by the entry point (splash, or terminal without a display).
Dialogs& CurrentDialogs();
void SetCurrentDialogs(Dialogs* dialogs);

}  // namespace platform

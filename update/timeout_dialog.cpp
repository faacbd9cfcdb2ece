#include "update/timeout_dialog.h"

#include "app/texts.h"
#include "platform/dialogs.h"
#include "platform/process_exit.h"
#include "ui/splash_state.h"

namespace {

constexpr unsigned kTimeoutDialogStyle =
    platform::kSystemModal | platform::kErrorIcon | platform::kRetryCancelBox;  // 0x1015

}  // namespace

void ShowTimeoutDialog(SplashState* splash) {
  if (splash != nullptr) splash->SetCloseVisible(true);
  platform::Dialogs& dialogs = platform::CurrentDialogs();
  dialogs.BringMainWindowToFront();
  const int answer = dialogs.Show(texts::kRequestTimeoutText, texts::kRequestTimeoutCaption, kTimeoutDialogStyle);
  if (answer == platform::kAnswerCancel) platform::QuickExit(0);
}

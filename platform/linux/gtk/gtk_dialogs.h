// Message boxes under a display: GTK message dialogs shown on the GTK thread at any thread's
// request. The asking thread blocks until the box is answered; the splash keeps animating.
#pragma once

#include <functional>

#include "platform/dialogs.h"
#include "platform/linux/gtk/main_thread_queue.h"

namespace gtk_splash {

class GtkDialogs : public platform::Dialogs {
 public:
  // `loopUntil` runs the window thread's loop until its argument returns true.
  using LoopUntil = std::function<void(const std::function<bool()>&)>;
  GtkDialogs(MainThreadQueue& queue, std::function<void()> bringMainWindowToFront, LoopUntil loopUntil)
      : queue_(queue), bringToFront_(std::move(bringMainWindowToFront)), loopUntil_(std::move(loopUntil)) {}

  void BringMainWindowToFront() override;
  int Show(const std::string& text, const std::string& caption, unsigned style) override;

 private:
  MainThreadQueue& queue_;
  std::function<void()> bringToFront_;
  LoopUntil loopUntil_;
};

// Opens the box on the GTK thread; `answered` gets one of platform::DialogAnswer once it closes.
// A box closed without a button counts as Cancel (OK for a box that has only OK).
void OpenDialog(const std::string& gbkText, const std::string& gbkCaption, unsigned style,
                std::function<void(int)> answered);

}  // namespace gtk_splash

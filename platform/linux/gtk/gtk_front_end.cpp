// The splash front end on Linux: GTK 3 on its X11 back end, the main window and the overlay
// forms, the frame loop and the dialogs.
//
// Loop policy: pending events and posted work are drained before any frame; a frame is produced
// every 1/60 s by the monotonic counter (realigned after a stall); between frames the thread
// sleeps until the next event or the next frame's time, whichever comes first (see
// MainContextWait). An idle frame costs one wait and no allocation.
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <memory>

#include "app/front_end.h"
#include "app/settings.h"
#include "net/background_tasks.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/linux/gtk/gtk_dialogs.h"
#include "platform/linux/gtk/gtk_window_host.h"
#include "platform/linux/gtk/main_context_wait.h"
#include "platform/linux/gtk/main_thread_queue.h"
#include "platform/process_exit.h"
#include "ui/main_screen.h"
#include "ui/splash_driver.h"

namespace gtk_splash {
namespace {

const char* const kMainTitle = "Tessarine";
constexpr int kCloseExitDelayMs = 1000;
// Events handled before each frame at most, so a flood of events cannot starve the frames.
constexpr int kMaxEventsPerDrain = 200;

bool& GtkReady() {
  static bool ready = false;
  return ready;
}

// Windows can be placed only on X11; a Wayland session runs GTK through XWayland.
void PreferX11() {
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const char* display = std::getenv("DISPLAY");
  if (wayland && *wayland && display && *display) setenv("GDK_BACKEND", "x11", 1);
  gdk_set_allowed_backends("x11");
}

class SplashWindowThread : public WindowEvents {
 public:
  explicit SplashWindowThread(const FrontEndHooks& hooks) : hooks_(hooks), host_(*this) {}

  int Run() {
    ui::WindowHandle mainWindow = host_.CreateMainWindow(ui::kMainWidth, ui::kMainHeight, kMainTitle);
    dialogs_ = std::make_unique<GtkDialogs>(
        queue_, [this] { OnActivation(); }, [this](const std::function<bool()>& done) { LoopUntil(done); });
    platform::SetCurrentDialogs(dialogs_.get());

    screen_ = ui::BuildMainScreen(host_, mainWindow, ui::kMainWidth, ui::kMainHeight, hooks_.onCloseClicked);
    driver_ = std::make_unique<ui::SplashDriver>(host_, *screen_, hooks_.splash);
    Centre(mainWindow);
    host_.ShowAll();
    if (hooks_.guard) hooks_.guard->OnActivation([this] { queue_.Post([this] { OnActivation(); }); });
    StartPacing();
    if (hooks_.startFlow) hooks_.startFlow();
    LoopUntil([] { return false; });
    return 0;
  }

  void OnPaint(ui::WindowHandle window) override {
    if (driver_) driver_->OnPaint(window);
  }
  void OnMainWindowMoved() override {
    if (driver_) driver_->OnMainWindowMoved();
  }
  void OnLeftButtonDown(int x, int y, bool leftButtonAlone) override {
    if (driver_) driver_->OnLeftButtonDown(x, y, leftButtonAlone);
  }
  void OnMainCloseRequest() override {
    RunAfterDelay(kCloseExitDelayMs, [] { platform::QuickExit(0); });
  }
  void OnLoopEnd() override { running_ = false; }

 private:
  void OnActivation() {
    if (driver_) driver_->OnActivation();
  }

  void Centre(ui::WindowHandle mainWindow) {
    GdkRectangle screen{0, 0, 0, 0};
    GdkDisplay* display = gdk_display_get_default();
    if (GdkMonitor* monitor = gdk_display_get_primary_monitor(display)) {
      gdk_monitor_get_geometry(monitor, &screen);
    } else if (GdkMonitor* first = gdk_display_get_monitor(display, 0)) {
      gdk_monitor_get_geometry(first, &screen);
    }
    const int x = screen.x + (screen.width - ui::kMainWidth) / 2;
    const int y = screen.y + (screen.height - ui::kMainHeight) / 2;
    gtk_window_move(GTK_WINDOW(mainWindow), x, y);
    // Placing the main window through the host keeps its rectangle and the forms in step.
    host_.PlaceWindow(mainWindow, {x, y, ui::kMainWidth, ui::kMainHeight});
    driver_->OnMainWindowMoved();
  }

  void StartPacing() {
    pacer_ = std::make_unique<FramePacer>(platform::PerformanceFrequency(), platform::PerformanceCounter());
    nextFrameAt_ = platform::PerformanceCounter() + pacer_->Period() + 1;
  }

  // Milliseconds until the next frame is due (rounded up), 0 when it is due now.
  gint MsUntilNextFrame() const {
    const std::int64_t frequency = platform::PerformanceFrequency();
    if (!pacer_) return static_cast<gint>(1000 / 60 + 1);
    const std::int64_t ticks = nextFrameAt_ - platform::PerformanceCounter();
    if (ticks <= 0) return 0;
    return static_cast<gint>((ticks * 1000 + frequency - 1) / frequency);
  }

  // The frame loop; also run nested while the window thread itself waits for a dialog, so the
  // splash keeps animating then.
  void LoopUntil(const std::function<bool()>& done) {
    int drained = 0;  // consecutive passes that handled something since the last frame check
    while (running_ && !done()) {
      bool handled = queue_.RunPending();
      // One wait: it returns with the first event or posted work, or when the next frame is due.
      // After handled work (which may have called GTK), only a look without waiting.
      if (wait_.Wait(MsUntilNextFrame(), !handled, host_.TakeGtkTouched())) handled = true;
      if (!running_) break;
      // Everything pending is handled before a frame, unless a flood would starve the frames.
      if (handled && ++drained < kMaxEventsPerDrain) continue;
      drained = 0;
      double dt = 0;
      const std::int64_t now = platform::PerformanceCounter();
      if (pacer_ && pacer_->FrameDue(now, &dt)) {
        if (hooks_.updateStageText) hooks_.updateStageText(dt);
        driver_->Frame(dt);
        // The next frame is due once the counter passes the next whole multiple of the period.
        nextFrameAt_ = now - now % pacer_->Period() + pacer_->Period() + 1;
      }
    }
  }

  const FrontEndHooks& hooks_;
  MainThreadQueue queue_;
  GtkWindowHost host_;
  std::unique_ptr<GtkDialogs> dialogs_;
  std::unique_ptr<ui::MainScreen> screen_;
  std::unique_ptr<ui::SplashDriver> driver_;
  std::unique_ptr<FramePacer> pacer_;  // null until the windows are shown
  std::int64_t nextFrameAt_ = 0;
  MainContextWait wait_{[display = GDK_DISPLAY_XDISPLAY(gdk_display_get_default())] {
    return XEventsQueued(display, QueuedAlready) > 0;
  }};
  bool running_ = true;
};

}  // namespace
}  // namespace gtk_splash

bool SplashFrontEndAvailable() {
  bool& ready = gtk_splash::GtkReady();
  if (ready) return true;
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (!(display && *display) && !(wayland && *wayland)) return false;
  gtk_splash::PreferX11();
  ready = gtk_init_check(nullptr, nullptr);
  return ready;
}

int RunSplashFrontEnd(const FrontEndHooks& hooks) {
  if (!SplashFrontEndAvailable()) return RunTerminalFrontEnd(hooks);
  gtk_splash::SplashWindowThread windowThread(hooks);
  return windowThread.Run();
}

// Pango prepares fontconfig on a thread of its own and hands the result over through GLib's
// uninstrumented locks; the thread sanitizer cannot see that hand-over.
extern "C" const char* __tsan_default_suppressions();
extern "C" const char* __tsan_default_suppressions() {
  return "race:libfontconfig.so\n"
         "race:libglib-2.0.so\n"
         "race:libpango-1.0.so\n"
         "race:libpangoft2-1.0.so\n";
}

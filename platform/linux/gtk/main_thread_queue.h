// Work handed to the GTK thread by other threads (dialog requests, activations). A lock guards
// the queue itself, so what a worker hands over is visible to the GTK thread without relying on
// GLib's internal synchronisation; the GTK thread is woken and runs the work between events.
#pragma once

#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace gtk_splash {

class MainThreadQueue {
 public:
  MainThreadQueue() : owner_(std::this_thread::get_id()) {}

  bool OnMainThread() const { return std::this_thread::get_id() == owner_; }
  // Any thread; wakes the GTK main context.
  void Post(std::function<void()> work);
  // GTK thread; runs what was posted so far, in order. True when anything ran.
  bool RunPending();

 private:
  std::thread::id owner_;
  std::mutex mutex_;
  std::vector<std::function<void()>> pending_;
};

}  // namespace gtk_splash

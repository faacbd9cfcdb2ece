#include "platform/linux/gtk/main_thread_queue.h"

#include <glib.h>

namespace gtk_splash {

void MainThreadQueue::Post(std::function<void()> work) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.push_back(std::move(work));
  }
  g_main_context_wakeup(nullptr);
}

bool MainThreadQueue::RunPending() {
  std::vector<std::function<void()>> work;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    work.swap(pending_);
  }
  for (auto& job : work) job();
  return !work.empty();
}

}  // namespace gtk_splash

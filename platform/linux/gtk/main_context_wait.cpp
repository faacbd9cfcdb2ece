#include "platform/linux/gtk/main_context_wait.h"

#include <algorithm>
#include <utility>

namespace gtk_splash {

MainContextWait::MainContextWait(std::function<bool()> eventsQueued)
    : eventsQueued_(std::move(eventsQueued)), context_(g_main_context_default()) {
  // Owned by this thread throughout, so a source attached from another thread wakes the poll.
  g_main_context_acquire(context_);
}

MainContextWait::~MainContextWait() { g_main_context_release(context_); }

bool MainContextWait::Wait(int timeoutMs, bool mayBlock, bool gtkTouched) {
  if (!mayBlock) timeoutMs = 0;
  if (timeoutMs > 0 && !gtkTouched && QuietUntilFrame(timeoutMs)) {
    if (g_poll(fds_.data(), static_cast<guint>(fds_.size()), timeoutMs) == 0) return false;
    timeoutMs = 0;  // something is ready: a full round picks it up without waiting
  }
  return FullRound(timeoutMs);
}

bool MainContextWait::QuietUntilFrame(int timeoutMs) const {
  if (!lastRoundIdle_ || fds_.empty()) return false;
  if (eventsQueued_ && eventsQueued_()) return false;
  return glibDueAt_ < 0 || g_get_monotonic_time() + static_cast<std::int64_t>(timeoutMs) * 1000 < glibDueAt_;
}

bool MainContextWait::FullRound(int timeoutMs) {
  gint priority = 0;
  const bool ready = g_main_context_prepare(context_, &priority);
  gint glibTimeout = -1;
  for (;;) {
    const gint needed =
        g_main_context_query(context_, priority, &glibTimeout, fds_.data(), static_cast<gint>(fds_.size()));
    if (needed <= static_cast<gint>(fds_.size())) {
      fds_.resize(static_cast<std::size_t>(needed));
      break;
    }
    fds_.resize(static_cast<std::size_t>(needed));
  }
  gint wait = ready ? 0 : timeoutMs;
  if (glibTimeout >= 0) wait = std::min(wait, glibTimeout);
  glibDueAt_ = glibTimeout < 0 ? -1 : g_get_monotonic_time() + static_cast<std::int64_t>(glibTimeout) * 1000;
  g_poll(fds_.data(), static_cast<guint>(fds_.size()), wait);
  const bool dispatch = g_main_context_check(context_, priority, fds_.data(), static_cast<gint>(fds_.size()));
  if (dispatch) g_main_context_dispatch(context_);
  lastRoundIdle_ = !dispatch;
  return dispatch;
}

}  // namespace gtk_splash

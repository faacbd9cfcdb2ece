#include "tests/chaos/extraction_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace chaos {

ExtractionWatch::ExtractionWatch(std::set<std::string> names) : names_(std::move(names)) {
  inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify_ < 0) throw std::runtime_error("inotify is not available");
}

ExtractionWatch::~ExtractionWatch() {
  if (inotify_ >= 0) close(inotify_);
}

bool ExtractionWatch::Attach(const std::filesystem::path& folder) {
  if (watch_ >= 0) return true;
  watch_ = inotify_add_watch(inotify_, folder.c_str(), IN_CREATE);
  return watch_ >= 0;
}

int ExtractionWatch::Poll() {
  alignas(inotify_event) char buffer[16384];
  for (;;) {
    const ssize_t got = read(inotify_, buffer, sizeof buffer);
    if (got <= 0) return created_;
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->len > 0 && names_.count(event->name) > 0) ++created_;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

}  // namespace chaos

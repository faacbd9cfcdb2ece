#include "tests/chaos/extraction_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace chaos {

ExtractionWatch::ExtractionWatch(std::set<std::string> names, Arrival arrival)
    : names_(std::move(names)), arrival_(arrival) {
  inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify_ < 0) throw std::runtime_error("inotify is not available");
}

ExtractionWatch::~ExtractionWatch() {
  if (inotify_ >= 0) close(inotify_);
}

bool ExtractionWatch::Attach(const std::filesystem::path& folder) {
  if (watch_ >= 0) return true;
  const std::uint32_t events = arrival_ == Arrival::kCreated   ? IN_CREATE
                               : arrival_ == Arrival::kMovedIn ? IN_MOVED_TO
                                                               : IN_DELETE;
  watch_ = inotify_add_watch(inotify_, folder.c_str(), events);
  if (watch_ < 0) return false;
  // A folder watched for renames holds the files of the last install, which have not arrived.
  if (arrival_ == Arrival::kCreated) {
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
      Count(it->path().filename().string());
    }
  }
  return true;
}

void ExtractionWatch::Count(const std::string& name) {
  if (names_.count(name) > 0) arrived_.insert(name);
}

int ExtractionWatch::Poll() {
  alignas(inotify_event) char buffer[16384];
  for (;;) {
    const ssize_t got = read(inotify_, buffer, sizeof buffer);
    if (got <= 0) return static_cast<int>(arrived_.size());
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->len > 0) Count(event->name);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

}  // namespace chaos

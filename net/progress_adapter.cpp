#include "net/progress_adapter.h"

#include <cmath>
#include <utility>

#include "app/status_words.h"
#include "package/file_util.h"

ProgressAdapter::ProgressAdapter(DownloadEventHandler handler, std::string archivePath, std::uint64_t resumeOffset,
                                 std::uint64_t zipBytes, std::string digest, std::uint64_t startMs)
    : handler_(std::move(handler)),
      archivePath_(std::move(archivePath)),
      resumeOffset_(resumeOffset),
      zipBytes_(zipBytes),
      digest_(std::move(digest)),
      lastMs_(startMs) {}

void ProgressAdapter::operator()(const std::string& status, const std::string& payload, double first, double) {
  if (status == status::kRestart) {
    // The download writes the archive again from `first`; its progress counts from there.
    resumeOffset_ = first > 0 && std::isfinite(first) ? static_cast<std::uint64_t>(first) : 0;
    lastBytes_ = 0;
    return;
  }
  const std::uint64_t nowMs = NowMs();
  const std::uint64_t bytes = first > 0 && std::isfinite(first) ? static_cast<std::uint64_t>(first) : 0;
  // Two calls in the same millisecond (or a clock step back) have no measurable speed: keep the last one.
  if (nowMs > lastMs_) {
    const double speed =
        (static_cast<double>(bytes) - static_cast<double>(lastBytes_)) / static_cast<double>(nowMs - lastMs_) * 1000.0;
    if (std::isfinite(speed)) lastSpeed_ = speed;
  }
  lastMs_ = nowMs;
  lastBytes_ = bytes;
  handler_(status, payload, resumeOffset_ + bytes, zipBytes_, lastSpeed_, archivePath_, digest_);
}

// Turns the download's raw progress into what the launcher shows: bytes of the whole archive
// (the resume offset included), the expected archive size and a speed since the previous call.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// (status, payload, downloaded, expected archive size, bytes per second, archive path, digest)
using DownloadEventHandler = std::function<void(const std::string& status, const std::string& payload,
                                                std::uint64_t downloaded, std::uint64_t expected, double speed,
                                                const std::string& archivePath, const std::string& digest)>;

class ProgressAdapter {
 public:
  ProgressAdapter(DownloadEventHandler handler, std::string archivePath, std::uint64_t resumeOffset,
                  std::uint64_t zipBytes, std::string digest, std::uint64_t startMs);

  // A TransferCallback: (status, payload, received in this transfer, expected in this transfer).
  void operator()(const std::string& status, const std::string& payload, double first, double second);

 private:
  DownloadEventHandler handler_;
  std::string archivePath_;
  std::uint64_t resumeOffset_;
  std::uint64_t zipBytes_;
  std::string digest_;
  std::uint64_t lastBytes_ = 0;
  std::uint64_t lastMs_;
  double lastSpeed_ = 0;
};

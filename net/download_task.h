#pragma once

#include <cstdint>
#include <string>

#include "net/transfer_callback.h"

// Everything one archive download needs; the download thread owns it.
struct DownloadTask {
  std::uint64_t resumeOffset = 0;  // 0 for a fresh download
  std::string localPath;           // empty selects memory mode
  TransferCallback callback;
  std::string url;
  // A file (or body) growing past this many bytes ends the transfer as failed (a server sending
  // without end must not fill the disk); 0 for no limit.
  std::uint64_t maxBodyBytes = 0;
};

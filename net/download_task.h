#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/transfer_callback.h"

class ArchiveDigest;
class GrowingArchive;

// Everything one archive download needs; the download thread owns it.
struct DownloadTask {
  std::uint64_t resumeOffset = 0;  // 0 for a fresh download
  std::string localPath;           // empty selects memory mode
  TransferCallback callback;
  std::string url;
  // A file (or body) growing past this many bytes ends the transfer as failed (a server sending
  // without end must not fill the disk); 0 for no limit.
  std::uint64_t maxBodyBytes = 0;
  // The stall window: a transfer slower than `stallBytesPerSecond` for `stallSeconds` has failed.
  // Any real player's line beats 1 KiB/s; a mirror trickling a few bytes a second would otherwise
  // hold the download for ever.
  long stallBytesPerSecond = 1024;
  long stallSeconds = 30;
  // The whole archive's size when known: an answer that gives no length (chunked) still shows
  // progress against it. 0 when unknown.
  std::uint64_t archiveBytes = 0;
  // Further URLs of the same archive, tried in order after `url` when an attempt fails.
  std::vector<std::string> mirrorUrls{};
  // The archive's SHA-256 is computed beside its MD5 (the file information names one).
  bool withSha256 = false;
  // The running digest of the file's bytes, carried from one attempt to the next; the download
  // makes one when it is null. On "succ" its result is in the DigestMemo.
  std::shared_ptr<ArchiveDigest> digest{};
  // Told how far the file has grown and when the download ends, for a reader unpacking it
  // meanwhile; null when nothing reads along.
  std::shared_ptr<GrowingArchive> growing{};
};

// Unpacking an archive while it downloads: entries are inflated from their local headers into
// the staging folder as their bytes arrive, on a thread of their own, each entry's size and
// CRC-32 checked.
//
// Policy: the stream is an optimisation; anything it does not handle the plain way (a method
// other than stored or deflated, encryption, a stored entry whose local header gives no sizes,
// a name twice, a file and a folder of one name, an unsafe name, a damaged entry, bytes of the
// download taken back) stops it, and the install unpacks after the download as before. Deflated
// entries with a data descriptor stream (inflating finds their end). The staging stops, and gives
// its room back, before the volume would hold less than the rest of the download plus
// kRoomMarginBytes: the download itself must never fail for the sake of the staging. The installed tree is
// never touched here: only the staging folder, emptied first. When the download is complete
// and verified, InstallStreamed commits the staging only if the central directory agrees with
// what was unpacked: the same entries in the same order at the same places, with the same
// names, methods, sizes and CRCs, nothing extra or missing. Memory: two blocks of
// kStreamBlockBytes and one inflate state, whatever the archive's size.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "package/growing_archive.h"

// One entry as its local header and data gave it.
struct StreamedEntry {
  std::string name;  // as the launcher spells it (UTF-8)
  std::uint16_t method = 0;
  std::uint32_t crc32 = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t size = 0;
  std::uint64_t dataOffset = 0;  // where its data starts in the archive
};

struct StreamOutcome {
  // Every entry up to the central directory was staged and checked.
  bool complete = false;
  // Why not, for standard output.
  std::string reason;
  std::vector<StreamedEntry> entries;
};

inline constexpr std::size_t kStreamBlockBytes = 256 * 1024;
inline constexpr std::uint64_t kRoomMarginBytes = 4 * 1024 * 1024;

class StreamUnpack {
 public:
  // Starts staging the archive at `archivePath`, read as Archive() says it grows, into the
  // staging folder of `destination`. `archiveBytes`: the whole archive's size (0: unknown), so
  // that the staging never takes the room the rest of the download needs. Throws
  // std::system_error when no thread can be started.
  StreamUnpack(std::string archivePath, std::string destination, std::uint64_t archiveBytes = 0);
  // Cancels and waits for the thread.
  ~StreamUnpack();
  StreamUnpack(const StreamUnpack&) = delete;
  StreamUnpack& operator=(const StreamUnpack&) = delete;

  // What the download tells of the archive's growth.
  const std::shared_ptr<GrowingArchive>& Archive() const { return archive_; }
  const std::string& ArchivePath() const { return archivePath_; }
  // Ends the staging soon; Finish then gives an incomplete outcome.
  void Cancel();
  // Waits for the thread; the outcome, incomplete also when the download did not end complete
  // or took back bytes the stream had read.
  StreamOutcome Finish();

 private:
  void Run();

  std::string archivePath_;
  std::string destination_;
  std::uint64_t archiveBytes_;
  std::shared_ptr<GrowingArchive> archive_;
  StreamOutcome outcome_;
  std::thread thread_;
};

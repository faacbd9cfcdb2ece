// Extraction of the package archive into the data folder.
//
// Every entry is checked before anything is written: a name leading outside the destination
// fails the run. Each entry is streamed through one block, its size and checksum are checked,
// and any failure ends the run with exactly one "fail"; a complete run ends with one "succ".
// Inflating is the costly part and entries are independent, so an archive may be shared out
// between workers (both cores of a small machine); memory stays one block per worker.
// When the archive's own data is at fault, the payload of an entry's "fail" carries the cause
// on a second line, so the player can report what no Retry will mend.
#pragma once

#include <minizip/unzip.h>

#include <cstddef>
#include <string>

#include "app/status_words.h"
#include "package/unzip_callback.h"

namespace unzip_status {
inline constexpr const char* kEntryDone = status::kUnzip;
inline constexpr const char* kSucceeded = status::kSucc;
inline constexpr const char* kFailed = status::kFail;
}  // namespace unzip_status

class ZipUtil {
 public:
  // Unpacks every entry of the task's archive below its destination, reporting through its
  // callback (which may be empty). False after a "fail". Synchronous: the caller's thread works.
  static bool UnzipAll(const UnzipTask& task);
  static bool UnzipAll(const std::string& archivePath, const std::string& destination, const UnzipCallback& callback);
  // The same with up to `workers` threads inflating entries side by side, each with its own
  // handle on the archive; "unzip" calls then come from those threads, one at a time, and
  // count up. Archives whose order matters (a name twice, a name that is a file and a folder)
  // are unpacked one entry after the other.
  static bool UnzipAll(const std::string& archivePath, const std::string& destination, const UnzipCallback& callback,
                       unsigned workers);

  // Writes the archive's current entry to `outputPath`. False, with the reason in `error` and
  // on standard output, when the entry could not be written completely and intact.
  static bool ExtractCurrent(unzFile archive, const std::string& localName, const std::string& outputPath,
                             std::string& error);

  // The line of a "fail" payload that names a fault of the archive itself (a damaged archive or
  // entry, a method, encryption or name it cannot install), which neither closing the game nor
  // deleting the data folder mends; "" for a failure that they may mend.
  static std::string ArchiveFaultOf(const std::string& payload);

  // Bytes moved per read; large enough that system calls do not dominate.
  static constexpr std::size_t kCopyBlockBytes = 256 * 1024;
};

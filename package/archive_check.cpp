#include "package/archive_check.h"

#include "package/entry_name.h"

namespace {

constexpr unsigned long kStored = 0;
constexpr unsigned long kDeflated = 8;
constexpr unsigned long kEncryptedFlag = 1;
#ifndef _WIN32
// Linux file systems hold at most this many bytes in one component of a path.
constexpr std::size_t kMaxComponentBytes = 255;
#endif

bool SystemCanHold(const std::string& storedName, const std::string& localName) {
  if (localName.empty()) return storedName.empty();
#ifndef _WIN32
  std::size_t component = 0;
  for (const char c : localName) {
    component = (c == '/' || c == '\\') ? 0 : component + 1;
    if (component > kMaxComponentBytes) return false;
  }
#endif
  return true;
}

}  // namespace

std::string DescribeMethod(unsigned long method) {
  const char* name = nullptr;
  switch (method) {
    case 12:
      name = "bzip2";
      break;
    case 14:
      name = "lzma";
      break;
    case 93:
      name = "zstd";
      break;
    case 95:
      name = "xz";
      break;
    case 98:
      name = "ppmd";
      break;
    default:
      break;
  }
  return std::to_string(method) + (name != nullptr ? std::string(" (") + name + ")" : std::string());
}

std::string FindUninstallableEntry(unzFile archive, std::uint64_t count) {
  std::string reason;
  std::uint64_t index = 0;
  for (int status = unzGoToFirstFile(archive); status == UNZ_OK && index < count && reason.empty();
       status = unzGoToNextFile(archive), ++index) {
    unz_file_info64 info{};
    StoredName stored;
    if (!ReadCurrentEntry(archive, info, stored)) break;
    const std::string localName = DecodeEntryName(stored);
    if (!SystemCanHold(stored.bytes, localName)) {
      reason = kCannotHoldHead + stored.bytes;
    } else if (info.compression_method != kStored && info.compression_method != kDeflated) {
      reason = kUnsupportedMethodHead + DescribeMethod(info.compression_method) + ": " + localName;
    } else if ((info.flag & kEncryptedFlag) != 0) {
      reason = kEncryptedHead + localName;
    }
  }
  // A header that cannot be read is left to the extraction, which reports it at its entry.
  unzGoToFirstFile(archive);
  return reason;
}

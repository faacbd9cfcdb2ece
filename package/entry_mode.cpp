#include "package/entry_mode.h"

namespace {

constexpr std::uint64_t kHostUnix = 3;
constexpr std::uint32_t kFileTypeMask = 0170000;
constexpr std::uint32_t kRegularFile = 0100000;
constexpr std::uint32_t kSymbolicLink = 0120000;
constexpr std::uint32_t kPermissionMask = 0777;

}  // namespace

EntryKind KindOfEntry(std::uint64_t versionMadeBy, std::uint64_t externalAttributes) {
  EntryKind kind;
  if (((versionMadeBy >> 8) & 0xff) != kHostUnix) return kind;
  const auto mode = static_cast<std::uint32_t>((externalAttributes >> 16) & 0xffff);
  if (mode == 0) return kind;  // some tools mark the host but leave the mode out
  const std::uint32_t type = mode & kFileTypeMask;
  if (type == kSymbolicLink) {
    kind.symlink = true;  // its 0777 would make a plain file writable by everyone
    return kind;
  }
  // Only regular files (or a bare mode without a type) take the bits; devices and fifos are
  // written as plain files with the default mode.
  if (type == kRegularFile || type == 0) kind.permissions = mode & kPermissionMask;
  return kind;
}

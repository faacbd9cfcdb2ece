#include "package/entry_count.h"

#include <fstream>

#include "package/zip_format.h"
#include "platform/files.h"

namespace {

constexpr std::uint64_t kCappedCount = 0xffff;
using namespace zip_format;

std::uint32_t LittleEndian(const unsigned char* bytes, int count) {
  return static_cast<std::uint32_t>(LoadLittleEndian(bytes, count));
}

// The first four bytes at `offset`, as a little-endian signature; 0 when they cannot be read.
std::uint32_t SignatureAt(const std::string& path, std::uint64_t offset) {
  std::ifstream in(platform::NativePath(path), std::ios::binary);
  unsigned char bytes[4] = {};
  if (!in.seekg(static_cast<std::streamoff>(offset)) || !in.read(reinterpret_cast<char*>(bytes), 4)) return 0;
  return LittleEndian(bytes, 4);
}

bool IsEndOfCentralDirectory(std::uint32_t signature) {
  return signature == kEndSignature || signature == kZip64EndSignature || signature == kDigitalSignatureSignature;
}

}  // namespace

bool IsEmptyArchive(const std::string& archivePath) {
  std::ifstream in(platform::NativePath(archivePath), std::ios::binary | std::ios::ate);
  if (!in) return false;
  const auto size = static_cast<std::uint64_t>(in.tellg());
  unsigned char record[kEndRecordSize] = {};
  if (size < kEndRecordSize || !in.seekg(0) || !in.read(reinterpret_cast<char*>(record), kEndRecordSize)) return false;
  const bool signature = LittleEndian(record, 4) == kEndSignature;
  const bool noEntries = LittleEndian(record + 8, 2) == 0 && LittleEndian(record + 10, 2) == 0;
  const bool noDirectory = LittleEndian(record + 12, 4) == 0 && LittleEndian(record + 16, 4) == 0;
  const bool commentFillsTheRest = kEndRecordSize + LittleEndian(record + 20, 2) == size;
  return signature && noEntries && noDirectory && commentFillsTheRest;
}

std::uint64_t CountEntries(unzFile archive, const std::string& archivePath) {
  unz_global_info64 global{};
  if (unzGetGlobalInfo64(archive, &global) != UNZ_OK) return 0;
  if (global.number_entry != kCappedCount) return global.number_entry;

  std::uint64_t walked = 0;
  std::uint64_t nextHeader = 0;
  for (int status = unzGoToFirstFile(archive); status == UNZ_OK; status = unzGoToNextFile(archive)) {
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) break;
    ++walked;
    nextHeader = unzGetOffset64(archive) + kCentralHeaderSize + info.size_filename + info.size_file_extra +
                 info.size_file_comment;
  }
  unzGoToFirstFile(archive);
  if (walked == 0) return global.number_entry;
  const bool cleanEnd = IsEndOfCentralDirectory(SignatureAt(archivePath, nextHeader));
  return cleanEnd ? walked : walked + 1;
}

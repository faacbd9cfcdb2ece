#include "tools/publish/zip_writer.h"

#include <minizip/zip.h>
#include <zlib.h>

#include <array>
#include <fstream>
#include <vector>

#include "platform/hash_stream.h"
#include "tools/publish/publish_error.h"

namespace publish {
namespace {

constexpr int kVersionMadeBy = (3 << 8) | 20;  // Unix, zip format 2.0
constexpr std::uint32_t kUnixFolderType = 0040000;
constexpr std::uint32_t kUnixFileType = 0100000;
constexpr std::uint32_t kDosFolderBit = 0x10;
constexpr unsigned long kUtf8NameFlag = 1u << 11;  // general purpose bit 11: the name is UTF-8
constexpr std::uint64_t kZip64Threshold = 0xffffffffull;
constexpr std::size_t kBlockSize = 1 << 20;
constexpr std::uint64_t kCappedEntryCount = 0xffff;  // the end record's 16-bit count saying "see zip64"
constexpr std::size_t kEndRecordSize = 22;           // without a comment; the archive gets none
constexpr std::size_t kLocatorSize = 20;
constexpr int kZip64Version = 45;

// The local header is written before the data, so whether it carries 64-bit sizes is decided
// from the file's size: deflate may grow incompressible data by a few bytes per block, so a file
// just under 4 GiB whose compressed form could reach the limit gets them too.
bool NeedsZip64Sizes(std::uint64_t size) {
  const std::uint64_t deflateBound = size + (size >> 12) + (size >> 14) + (size >> 25) + 64;
  return deflateBound >= kZip64Threshold;
}

bool IsAscii(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

zip_fileinfo MakeFileInfo(std::uint32_t externalAttributes, std::time_t modified) {
  zip_fileinfo info{};
  std::tm local{};
  localtime_r(&modified, &local);
  info.tmz_date.tm_sec = static_cast<uInt>(local.tm_sec);
  info.tmz_date.tm_min = static_cast<uInt>(local.tm_min);
  info.tmz_date.tm_hour = static_cast<uInt>(local.tm_hour);
  info.tmz_date.tm_mday = static_cast<uInt>(local.tm_mday);
  info.tmz_date.tm_mon = static_cast<uInt>(local.tm_mon);
  info.tmz_date.tm_year = static_cast<uInt>(local.tm_year + 1900);
  info.dosDate = 0;
  info.external_fa = externalAttributes;
  return info;
}

void PutLittleEndian(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xff);
}

std::uint64_t GetLittleEndian(const char* in, int bytes) {
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(in[i]);
  return value;
}

// The zip64 end record and its locator for an archive of `entries` entries whose central
// directory (`directorySize` bytes at `directoryOffset`) ends where the records begin.
std::string Zip64EndRecords(std::uint64_t entries, std::uint64_t directorySize, std::uint64_t directoryOffset) {
  std::string records = "PK\x06\x06";
  PutLittleEndian(records, 44, 8);  // size of the rest of the record
  PutLittleEndian(records, (3 << 8) | kZip64Version, 2);
  PutLittleEndian(records, kZip64Version, 2);
  PutLittleEndian(records, 0, 4);  // this disk
  PutLittleEndian(records, 0, 4);  // disk of the central directory
  PutLittleEndian(records, entries, 8);
  PutLittleEndian(records, entries, 8);
  PutLittleEndian(records, directorySize, 8);
  PutLittleEndian(records, directoryOffset, 8);
  records += "PK\x06\x07";
  PutLittleEndian(records, 0, 4);  // disk of the zip64 end record
  PutLittleEndian(records, directoryOffset + directorySize, 8);
  PutLittleEndian(records, 1, 4);  // disks in all
  return records;
}

// minizip's zip half writes 0xFFFF into the end record's counts from 65,535 entries on, but the
// zip64 end record that must then hold the real count only when the archive passes 4 GiB;
// readers then see at most 65,535 entries. The records are inserted before the end record.
void CompleteZip64EndRecords(const std::filesystem::path& archive, std::uint64_t entries) {
  std::fstream file(archive, std::ios::binary | std::ios::in | std::ios::out);
  file.seekg(0, std::ios::end);
  const auto size = static_cast<std::uint64_t>(file.tellg());
  if (!file || size < kEndRecordSize + kLocatorSize) throw PublishError("cannot finish " + archive.string());
  std::array<char, kEndRecordSize + kLocatorSize> tail{};
  file.seekg(static_cast<std::streamoff>(size - tail.size()));
  file.read(tail.data(), static_cast<std::streamsize>(tail.size()));
  const char* end = tail.data() + kLocatorSize;
  if (!file || std::string(end, 4) != "PK\x05\x06") throw PublishError("cannot finish " + archive.string());
  if (std::string(tail.data(), 4) == "PK\x06\x07") return;  // written already
  const std::uint64_t directorySize = GetLittleEndian(end + 12, 4);
  const std::uint64_t directoryOffset = GetLittleEndian(end + 16, 4);
  if (directorySize == kZip64Threshold || directoryOffset == kZip64Threshold ||
      directoryOffset + directorySize != size - kEndRecordSize) {
    throw PublishError("cannot finish " + archive.string() + ": unexpected end of central directory");
  }
  const std::string records =
      Zip64EndRecords(entries, directorySize, directoryOffset) + std::string(end, kEndRecordSize);
  file.seekp(static_cast<std::streamoff>(size - kEndRecordSize));
  file.write(records.data(), static_cast<std::streamsize>(records.size()));
  file.flush();
  if (!file) throw PublishError("cannot finish " + archive.string());
}

}  // namespace

std::uint32_t UnixExternalAttributes(std::uint32_t mode, bool isFolder) {
  const std::uint32_t type = isFolder ? kUnixFolderType : kUnixFileType;
  return ((type | (mode & 0777)) << 16) | (isFolder ? kDosFolderBit : 0);
}

ZipWriter::ZipWriter(const std::filesystem::path& archive) : archive_(archive), archiveName_(archive.string()) {
  zip_ = zipOpen64(archive.c_str(), APPEND_STATUS_CREATE);
  if (zip_ == nullptr) throw PublishError("cannot create " + archiveName_);
}

ZipWriter::~ZipWriter() {
  if (zip_ != nullptr) zipClose(static_cast<zipFile>(zip_), nullptr);
}

void ZipWriter::OpenEntry(const std::string& entryName, std::uint32_t externalAttributes, std::time_t modified,
                          bool large) {
  const zip_fileinfo info = MakeFileInfo(externalAttributes, modified);
  const unsigned long flags = IsAscii(entryName) ? 0 : kUtf8NameFlag;
  const int result =
      zipOpenNewFileInZip4_64(static_cast<zipFile>(zip_), entryName.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                              Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY,
                              nullptr, 0, kVersionMadeBy, flags, large ? 1 : 0);
  if (result != ZIP_OK) throw PublishError("cannot add " + entryName + " to " + archiveName_);
  ++entries_;
}

void ZipWriter::CloseEntry(const std::string& entryName) {
  if (zipCloseFileInZip(static_cast<zipFile>(zip_)) != ZIP_OK) {
    throw PublishError("cannot finish " + entryName + " in " + archiveName_);
  }
}

void ZipWriter::AddFolder(const std::string& name, std::uint32_t permissions, std::time_t modified) {
  const std::string entryName = name + "/";
  OpenEntry(entryName, UnixExternalAttributes(permissions, true), modified, false);
  CloseEntry(entryName);
}

ZipWriter::FileDigest ZipWriter::AddFile(const std::string& name, const std::filesystem::path& source,
                                         std::uint32_t permissions, std::time_t modified, const BlockWritten& onBlock) {
  std::ifstream in(source, std::ios::binary);
  if (!in) throw PublishError("cannot read " + source.string());
  std::error_code sizeError;
  const auto size = std::filesystem::file_size(source, sizeError);
  if (sizeError) throw PublishError("cannot read the size of " + source.string() + ": " + sizeError.message());
  OpenEntry(name, UnixExternalAttributes(permissions, false), modified, NeedsZip64Sizes(size));

  std::vector<char> block(kBlockSize);
  std::uint64_t written = 0;
  // The file list's digests come from the very bytes that are packed, so a file that changes
  // while it is being published cannot be listed with another content than its entry's.
  uLong crc = crc32(0L, Z_NULL, 0);
  platform::HashStream sha256(platform::HashKind::Sha256);
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    const auto got = static_cast<unsigned>(in.gcount());
    if (got == 0) break;
    if (zipWriteInFileInZip(static_cast<zipFile>(zip_), block.data(), got) != ZIP_OK) {
      throw PublishError("cannot write " + name + " into " + archiveName_);
    }
    crc = crc32(crc, reinterpret_cast<const Bytef*>(block.data()), got);
    sha256.Update(block.data(), got);
    written += got;
    if (onBlock) onBlock(written);
  }
  if (in.bad()) throw PublishError("error while reading " + source.string());
  CloseEntry(name);
  FileDigest digest{written, static_cast<std::uint32_t>(crc), sha256.Finish()};
  if (digest.sha256.empty()) throw PublishError("cannot compute the SHA-256 of " + source.string());
  return digest;
}

void ZipWriter::Close() {
  const int result = zipClose(static_cast<zipFile>(zip_), nullptr);
  zip_ = nullptr;
  if (result != ZIP_OK) throw PublishError("cannot finish " + archiveName_);
  if (entries_ >= kCappedEntryCount) CompleteZip64EndRecords(archive_, entries_);
}

}  // namespace publish

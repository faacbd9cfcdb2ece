#include "tools/publish/zip_writer.h"

#include <minizip/zip.h>

#include <fstream>
#include <vector>

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

}  // namespace

std::uint32_t UnixExternalAttributes(std::uint32_t mode, bool isFolder) {
  const std::uint32_t type = isFolder ? kUnixFolderType : kUnixFileType;
  return ((type | (mode & 0777)) << 16) | (isFolder ? kDosFolderBit : 0);
}

ZipWriter::ZipWriter(const std::filesystem::path& archive) : archiveName_(archive.string()) {
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

void ZipWriter::AddFile(const std::string& name, const std::filesystem::path& source, std::uint32_t permissions,
                        std::time_t modified, const BlockWritten& onBlock) {
  std::ifstream in(source, std::ios::binary);
  if (!in) throw PublishError("cannot read " + source.string());
  std::error_code sizeError;
  const auto size = std::filesystem::file_size(source, sizeError);
  OpenEntry(name, UnixExternalAttributes(permissions, false), modified, !sizeError && size >= kZip64Threshold);

  std::vector<char> block(kBlockSize);
  std::uint64_t written = 0;
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    const auto got = static_cast<unsigned>(in.gcount());
    if (got == 0) break;
    if (zipWriteInFileInZip(static_cast<zipFile>(zip_), block.data(), got) != ZIP_OK) {
      throw PublishError("cannot write " + name + " into " + archiveName_);
    }
    written += got;
    if (onBlock) onBlock(written);
  }
  if (in.bad()) throw PublishError("error while reading " + source.string());
  CloseEntry(name);
}

void ZipWriter::Close() {
  const int result = zipClose(static_cast<zipFile>(zip_), nullptr);
  zip_ = nullptr;
  if (result != ZIP_OK) throw PublishError("cannot finish " + archiveName_);
}

}  // namespace publish

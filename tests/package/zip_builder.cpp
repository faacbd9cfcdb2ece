#include "tests/package/zip_builder.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

constexpr unsigned long kMadeOnUnix = (3u << 8) | 30u;
constexpr unsigned long kMadeOnDos = 20u;
constexpr unsigned long kUtf8NameFlag = 1u << 11;

bool IsAscii(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

void Check(int result, const char* what) {
  if (result != ZIP_OK) throw std::runtime_error(std::string("zip writer: ") + what);
}

}  // namespace

ZipBuilder::ZipBuilder(const std::filesystem::path& path)
    : zip_(zipOpen64(path.string().c_str(), APPEND_STATUS_CREATE)) {
  if (zip_ == nullptr) throw std::runtime_error("zip writer: cannot create " + path.string());
}

ZipBuilder::~ZipBuilder() {
  if (zip_ != nullptr) zipClose(zip_, nullptr);
}

void ZipBuilder::Add(const std::string& name, const std::string& data, const EntryOptions& options) {
  zip_fileinfo info{};
  info.external_fa = options.unixMode ? (static_cast<unsigned long>(*options.unixMode) << 16) : 0;
  const int method = options.stored ? 0 : Z_DEFLATED;
  const int level = options.stored ? 0 : Z_DEFAULT_COMPRESSION;
  const unsigned long flags = options.unflaggedName || IsAscii(name) ? 0 : kUtf8NameFlag;
  Check(zipOpenNewFileInZip4_64(zip_, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, method, level, 0,
                                -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0,
                                options.unixMode ? kMadeOnUnix : kMadeOnDos, flags, options.zip64 ? 1 : 0),
        "open entry");
  if (!data.empty()) Check(zipWriteInFileInZip(zip_, data.data(), static_cast<unsigned>(data.size())), "write");
  Check(zipCloseFileInZip(zip_), "close entry");
}

void ZipBuilder::AddFolder(const std::string& name) { Add(name, "", EntryOptions::Stored()); }

void ZipBuilder::Close() {
  Check(zipClose(zip_, nullptr), "close archive");
  zip_ = nullptr;
}

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

namespace {

void PutLittleEndian(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xff);
}

std::uint64_t GetLittleEndian(const std::string& in, std::size_t at, int bytes) {
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(in[at + i]);
  return value;
}

}  // namespace

void AddZip64EndRecords(const std::filesystem::path& path, std::uint64_t entries) {
  std::string bytes = ReadBytes(path);
  const std::size_t end = bytes.size() - 22;
  if (bytes.compare(end, 4, "PK\x05\x06") != 0) throw std::runtime_error("no end record without comment");
  const std::uint64_t directorySize = GetLittleEndian(bytes, end + 12, 4);
  const std::uint64_t directoryOffset = GetLittleEndian(bytes, end + 16, 4);
  std::string records = "PK\x06\x06";
  PutLittleEndian(records, 44, 8);  // size of the rest of the record
  PutLittleEndian(records, 45, 2);  // made by
  PutLittleEndian(records, 45, 2);  // needed to extract
  PutLittleEndian(records, 0, 4);   // this disk
  PutLittleEndian(records, 0, 4);   // disk of the central directory
  PutLittleEndian(records, entries, 8);
  PutLittleEndian(records, entries, 8);
  PutLittleEndian(records, directorySize, 8);
  PutLittleEndian(records, directoryOffset, 8);
  records += "PK\x06\x07";
  PutLittleEndian(records, 0, 4);    // disk of the zip64 end record
  PutLittleEndian(records, end, 8);  // where it starts
  PutLittleEndian(records, 1, 4);    // disks in all
  bytes.insert(end, records);
  WriteBytes(path, bytes);
}

bool RemoveZip64EndRecords(const std::filesystem::path& path) {
  std::string bytes = ReadBytes(path);
  constexpr std::size_t kLocatorSize = 20;
  if (bytes.size() < 22 + kLocatorSize) return false;
  const std::size_t locator = bytes.size() - 22 - kLocatorSize;
  if (bytes.compare(locator, 4, "PK\x06\x07") != 0) return false;
  const std::uint64_t record = GetLittleEndian(bytes, locator + 8, 8);
  if (record >= locator || bytes.compare(record, 4, "PK\x06\x06") != 0) return false;
  bytes.erase(record, bytes.size() - 22 - record);
  WriteBytes(path, bytes);
  return true;
}

int PatchBytes(const std::filesystem::path& path, const std::string& from, const std::string& to) {
  if (from.size() != to.size()) throw std::invalid_argument("patch must keep the length");
  std::string bytes = ReadBytes(path);
  int count = 0;
  for (auto at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at + to.size())) {
    bytes.replace(at, from.size(), to);
    ++count;
  }
  WriteBytes(path, bytes);
  return count;
}

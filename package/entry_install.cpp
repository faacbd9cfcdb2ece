#include "package/entry_install.h"

#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <system_error>

#include "package/entry_mode.h"
#include "package/entry_path.h"
#include "package/output_file.h"
#include "package/staging.h"
#include "package/zip_format.h"
#include "platform/files.h"
#include "platform/hash_stream.h"

namespace {

using namespace zip_format;

constexpr std::size_t kBlockBytes = 256 * 1024;

std::uint64_t Get(const unsigned char* bytes, int width) { return LoadLittleEndian(bytes, width); }

struct InflateEnd {
  void operator()(z_stream* stream) const {
    inflateEnd(stream);
    delete stream;
  }
};
using Inflater = std::unique_ptr<z_stream, InflateEnd>;

// A raw deflate stream, as zip entries hold them; empty when zlib cannot start one.
Inflater MakeInflater() {
  auto* stream = new z_stream{};
  if (inflateInit2(stream, -MAX_WBITS) != Z_OK) {
    delete stream;
    return Inflater();
  }
  return Inflater(stream);
}

// The installed file's permission bits, which a replacement keeps when the archive carries none.
std::optional<std::uint32_t> InstalledMode(const std::string& path) {
#ifdef _WIN32
  (void)path;
  return std::nullopt;
#else
  std::error_code error;
  const auto status = std::filesystem::symlink_status(platform::NativePath(path), error);
  if (error || status.type() != std::filesystem::file_type::regular) return std::nullopt;
  return static_cast<std::uint32_t>(status.permissions()) & 0777u;
#endif
}

// The folders of `parts` below `root`, each made a real folder.
bool MakeFolders(const std::string& root, const EntryParts& parts) {
  for (const std::string& folder : parts.folders) {
    if (!MakeFolderInPlace(root + platform::kPathSeparator + folder)) return false;
  }
  return true;
}

// Streams the entry's data from `in` into `output`, feeding the checks. Empty on success.
class EntryWriter {
 public:
  // Never more than `limit` bytes are written: a stream inflating past it is refused.
  EntryWriter(std::ifstream& in, OutputFile& output, std::uint64_t limit) : in_(in), output_(output), limit_(limit) {}

  std::string Copy(std::uint16_t method, std::uint64_t compressed) {
    const auto input = std::make_unique_for_overwrite<char[]>(kBlockBytes);
    if (method == kStored) {
      for (std::uint64_t left = compressed; left > 0;) {
        const std::size_t chunk = left < kBlockBytes ? static_cast<std::size_t>(left) : kBlockBytes;
        if (!in_.read(input.get(), static_cast<std::streamsize>(chunk))) return "the fetched bytes end early";
        if (!Emit(input.get(), chunk)) return failure_;
        left -= chunk;
      }
      return {};
    }
    Inflater inflater = MakeInflater();
    if (!inflater) return "cannot start inflating";
    const auto output = std::make_unique_for_overwrite<char[]>(kBlockBytes);
    int status = Z_OK;
    std::uint64_t left = compressed;
    while (status != Z_STREAM_END) {
      if (inflater->avail_in == 0) {
        if (left == 0) return "the deflated data ends early";
        const std::size_t chunk = left < kBlockBytes ? static_cast<std::size_t>(left) : kBlockBytes;
        if (!in_.read(input.get(), static_cast<std::streamsize>(chunk))) return "the fetched bytes end early";
        left -= chunk;
        inflater->next_in = reinterpret_cast<Bytef*>(input.get());
        inflater->avail_in = static_cast<uInt>(chunk);
      }
      inflater->next_out = reinterpret_cast<Bytef*>(output.get());
      inflater->avail_out = static_cast<uInt>(kBlockBytes);
      status = inflate(inflater.get(), Z_NO_FLUSH);
      if (status != Z_OK && status != Z_STREAM_END) return "the deflated data is damaged";
      if (!Emit(output.get(), kBlockBytes - inflater->avail_out)) return failure_;
    }
    if (inflater->avail_in != 0 || left != 0) return "the deflated data ends before its entry";
    return {};
  }

  std::uint64_t Written() const { return written_; }
  std::uint32_t Crc() const { return static_cast<std::uint32_t>(crc_); }
  std::string Sha256() { return sha256_.Finish(); }

 private:
  bool Emit(const char* data, std::size_t size) {
    if (size == 0) return true;
    if (size > limit_ - written_) {
      failure_ = "inflates past its size of " + std::to_string(limit_) + " bytes";
      return false;
    }
    if (!output_.Write(data, size)) return false;
    crc_ = crc32(crc_, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(size));
    sha256_.Update(data, size);
    written_ += size;
    return true;
  }

  std::ifstream& in_;
  OutputFile& output_;
  uLong crc_ = crc32(0L, Z_NULL, 0);
  platform::HashStream sha256_{platform::HashKind::Sha256};
  std::uint64_t limit_;
  std::uint64_t written_ = 0;
  std::string failure_ = "cannot write";
};

// Reads the local header at `bytes.offset` and leaves `in` at the entry's first data byte. Empty
// on success.
std::string SeekToData(std::ifstream& in, const EntrySpan& bytes, const RemoteEntry& entry) {
  unsigned char header[kLocalHeaderSize];
  in.seekg(static_cast<std::streamoff>(bytes.offset));
  if (bytes.span < kLocalHeaderSize || !in.read(reinterpret_cast<char*>(header), kLocalHeaderSize)) {
    return "no local header in the fetched bytes";
  }
  if (Get(header, 4) != 0x04034b50u) return "no local header signature at the entry's offset";
  const std::uint64_t nameLength = Get(header + 26, 2);
  const std::uint64_t extraLength = Get(header + 28, 2);
  const std::uint64_t dataStart = kLocalHeaderSize + nameLength + extraLength;
  if (dataStart > bytes.span || entry.compressedSize > bytes.span - dataStart) {
    return "the entry's data runs past the fetched bytes";
  }
  std::string name(static_cast<std::size_t>(nameLength), '\0');
  if (!in.read(name.data(), static_cast<std::streamsize>(nameLength))) return "no local header in the fetched bytes";
  if (name != entry.name) return "the local header names another entry";
  in.seekg(static_cast<std::streamoff>(extraLength), std::ios::cur);
  if (!in) return "no local header in the fetched bytes";
  return {};
}

}  // namespace

std::string InstallEntry(const EntrySpan& bytes, const RemoteEntry& entry, const std::string& path,
                         const std::string& sha256, const std::string& staging, const std::string& installedRoot) {
  const auto fail = [&path](const std::string& why) { return "file " + path + ": " + why; };
  if (entry.method != kStored && entry.method != kDeflated) return fail("unsupported compression method");
  if ((entry.flags & kEncryptedFlag) != 0) return fail("encrypted entry");
  const EntryParts parts = SplitEntryName(path);
  if (!IsSafeEntryName(path) || parts.file.empty() || path == kStagingFolderName ||
      (!parts.folders.empty() && parts.folders.front() == kStagingFolderName)) {
    return fail("refused name");
  }
  std::ifstream in(platform::NativePath(bytes.file), std::ios::binary);
  if (!in) return fail("cannot open " + bytes.file);
  if (std::string why = SeekToData(in, bytes, entry); !why.empty()) return fail(why);

  if (!MakeFolderInPlace(staging) || !MakeFolders(staging, parts)) return fail("cannot make its folder");
  const std::string target = staging + platform::kPathSeparator + parts.file;
  std::string why;
  std::string digest;
  std::uint64_t written = 0;
  std::uint32_t crc = 0;
  {
    std::optional<std::uint32_t> mode = KindOfEntry(entry.versionMadeBy, entry.externalAttributes).permissions;
    if (!mode) mode = InstalledMode(installedRoot + platform::kPathSeparator + parts.file);
    OutputFile output(target, mode);
    if (!output) return fail("cannot create " + target);
    EntryWriter writer(in, output, entry.size);
    why = writer.Copy(entry.method, entry.compressedSize);
    written = writer.Written();
    crc = writer.Crc();
    digest = writer.Sha256();
    if (!output.Close() && why.empty()) why = "cannot write";
  }
  if (why.empty() && written != entry.size) {
    why = "inflated to " + std::to_string(written) + " bytes, listed " + std::to_string(entry.size);
  }
  if (why.empty() && crc != entry.crc32) why = "CRC-32 mismatch";
  if (why.empty() && digest != sha256) why = "SHA-256 " + digest + ", listed " + sha256;
  if (why.empty()) return {};
  FinishClosingFiles();  // a file still open cannot be removed on Windows
  platform::RemoveFile(target);
  return fail(why);
}

#include "package/stream_unpack.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <utility>

#include "package/entry_name.h"
#include "package/entry_path.h"
#include "package/output_file.h"
#include "package/staging.h"
#include "package/zip_format.h"
#include "platform/files.h"

namespace {

using namespace zip_format;

constexpr std::size_t kLocalHeaderBytes = kLocalHeaderSize;
// The names of local headers are decoded as if made on Unix; the central directory, which
// knows the maker, has the last word in the agreement.
constexpr std::uint16_t kMadeOnUnix = 3u << 8;

std::uint16_t Le16(const char* at) { return static_cast<std::uint16_t>(LoadLittleEndian(at, 2)); }

std::uint32_t Le32(const char* at) { return static_cast<std::uint32_t>(LoadLittleEndian(at, 4)); }

std::uint64_t Le64(const char* at) { return LoadLittleEndian(at, 8); }

// The archive's bytes in order through one block, with as many kept back as a header needs.
class ByteSource {
 public:
  explicit ByteSource(GrowingArchiveReader& reader) : reader_(reader), block_(kStreamBlockBytes) {}

  // At least `count` (at most kStreamBlockBytes) bytes are buffered; false when they never come.
  bool Need(std::size_t count) {
    if (end_ - begin_ >= count) return true;
    std::memmove(block_.data(), block_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    while (end_ < count) {
      const std::size_t got = reader_.ReadSome(block_.data() + end_, block_.size() - end_);
      if (got == 0) return false;
      end_ += got;
    }
    return true;
  }
  const char* Data() const { return block_.data() + begin_; }
  std::size_t Buffered() const { return end_ - begin_; }
  void Consume(std::size_t count) { begin_ += count; }
  // Where the next byte lies in the archive.
  std::uint64_t Position() const { return reader_.Position() - Buffered(); }
  bool Skip(std::uint64_t count) {
    while (count > 0) {
      if (!Need(1)) return false;
      const auto step = static_cast<std::size_t>(std::min<std::uint64_t>(count, Buffered()));
      Consume(step);
      count -= step;
    }
    return true;
  }

 private:
  GrowingArchiveReader& reader_;
  std::vector<char> block_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

struct LocalHeader {
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint32_t crc32 = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t size = 0;
  bool zip64 = false;
  std::string name;
  std::string extra;
};

// The zip64 sizes of the extra field replace the marked 32-bit ones, in the field's order.
bool ApplyZip64(LocalHeader& header) {
  std::size_t at = 0;
  while (at + 4 <= header.extra.size()) {
    const std::uint16_t id = Le16(header.extra.data() + at);
    const std::uint16_t length = Le16(header.extra.data() + at + 2);
    if (at + 4 + length > header.extra.size()) return false;
    if (id == kZip64ExtraId) {
      header.zip64 = true;
      std::size_t field = at + 4;
      const std::size_t fieldEnd = field + length;
      for (std::uint64_t* value : {&header.size, &header.compressedSize}) {
        if (*value != kZip64Marker32) continue;
        if (field + 8 > fieldEnd) return false;
        *value = Le64(header.extra.data() + field);
        field += 8;
      }
    }
    at += 4 + length;
  }
  return true;
}

// What the rest of the download needs on the staging's volume: the archive's missing bytes when
// the archive lies on the same volume, and the margin.
class RoomNeed {
 public:
  RoomNeed(const std::string& archivePath, const std::string& staging, std::uint64_t archiveBytes)
      : staging_(staging), archiveBytes_(archiveBytes) {
    std::uint64_t available = 0;
    std::string stagingVolume;
    std::string archiveVolume;
    const std::size_t slash = archivePath.find_last_of("/\\");
    const std::string archiveFolder = slash == std::string::npos ? "." : archivePath.substr(0, slash);
    sameVolume_ = !platform::FreeSpace(staging, &available, &stagingVolume) ||
                  !platform::FreeSpace(archiveFolder, &available, &archiveVolume) || stagingVolume == archiveVolume;
  }

  // True when the volume still holds what the download needs past `archivePosition`; true too
  // when the system cannot tell.
  bool HasRoom(std::uint64_t archivePosition) const {
    std::uint64_t available = 0;
    std::string volume;
    if (!platform::FreeSpace(staging_, &available, &volume)) return true;
    const std::uint64_t left = sameVolume_ && archiveBytes_ > archivePosition ? archiveBytes_ - archivePosition : 0;
    return available >= left + kRoomMarginBytes;
  }

 private:
  std::string staging_;
  std::uint64_t archiveBytes_;
  bool sameVolume_ = true;
};

// One run of the stream over the archive; the first reason it stops is kept.
class Stream {
 public:
  Stream(ByteSource& source, std::string staging, RoomNeed room)
      : source_(source), staging_(std::move(staging)), room_(std::move(room)) {}

  StreamOutcome Run() {
    while (outcome_.reason.empty()) {
      if (!source_.Need(4)) {
        Fail("the archive ended before its central directory");
        break;
      }
      const std::uint32_t signature = Le32(source_.Data());
      if (signature == kCentralHeaderSignature || signature == kZip64EndSignature || signature == kEndSignature) {
        outcome_.complete = true;
        break;
      }
      if (signature != kLocalHeaderSignature) {
        Fail("no local header where an entry should start");
        break;
      }
      StageEntry();
    }
    return std::move(outcome_);
  }

 private:
  bool Fail(const std::string& reason) {
    if (outcome_.reason.empty()) outcome_.reason = reason;
    outcome_.complete = false;
    return false;
  }

  bool ReadHeader(LocalHeader& header) {
    if (!source_.Need(kLocalHeaderBytes)) return Fail("the archive ended in a local header");
    const char* fixed = source_.Data();
    header.flags = Le16(fixed + 6);
    header.method = Le16(fixed + 8);
    header.crc32 = Le32(fixed + 14);
    header.compressedSize = Le32(fixed + 18);
    header.size = Le32(fixed + 22);
    const std::size_t nameBytes = Le16(fixed + 26);
    const std::size_t extraBytes = Le16(fixed + 28);
    source_.Consume(kLocalHeaderBytes);
    if (!source_.Need(nameBytes + extraBytes)) return Fail("the archive ended in a local header");
    header.name.assign(source_.Data(), nameBytes);
    header.extra.assign(source_.Data() + nameBytes, extraBytes);
    source_.Consume(nameBytes + extraBytes);
    if (!ApplyZip64(header)) return Fail("a damaged extra field in the local header of " + header.name);
    return true;
  }

  // The folders of a name, each made in the staging folder once; false when one is a file there.
  bool MakeFolders(const EntryParts& parts) {
    for (const auto& folder : parts.folders) {
      if (files_.count(folder) != 0) return Fail("a file and a folder of one name: " + folder);
      if (!folders_.insert(folder).second) continue;
      if (!MakeFolderInPlace(staging_ + platform::kPathSeparator + folder)) return Fail("cannot make " + folder);
    }
    return true;
  }

  void StageEntry() {
    LocalHeader header;
    if (!ReadHeader(header)) return;
    if ((header.flags & kEncryptedFlag) != 0) return (void)Fail("an encrypted entry: " + header.name);
    if (header.method != kStored && header.method != kDeflated)
      return (void)Fail("an entry of another method: " + header.name);
    const bool descriptor = (header.flags & kDescriptorFlag) != 0;
    if (descriptor && header.method == kStored) return (void)Fail("a stored entry without sizes: " + header.name);
    const std::string name = DecodeEntryName({header.name, header.flags, kMadeOnUnix, header.extra});
    if (name.empty() || !IsSafeEntryName(name)) return (void)Fail("a name not to be written: " + header.name);
    if (name == kStagingFolderName || name.starts_with(std::string(kStagingFolderName) + "/") ||
        name.starts_with(std::string(kStagingFolderName) + "\\"))
      return (void)Fail("an entry in the staging folder's place: " + name);
    const EntryParts parts = SplitEntryName(name);
    if (!MakeFolders(parts)) return;

    StreamedEntry entry;
    entry.name = name;
    entry.method = header.method;
    entry.dataOffset = source_.Position();
    if (parts.file.empty()) {
      // A folder entry's data (an empty deflate stream, say) is read past; any byte of it is left
      // to the plain unpacking.
      if (!Transfer(header, descriptor, nullptr, entry)) return;
      if (entry.size != 0) return (void)Fail("a folder entry with data: " + name);
      outcome_.entries.push_back(entry);
      return;
    }
    if (files_.count(parts.file) != 0 || folders_.count(parts.file) != 0)
      return (void)Fail("a name given twice: " + name);
    files_.insert(parts.file);
    const std::string path = staging_ + platform::kPathSeparator + parts.file;
    OutputFile output(path, std::nullopt);
    if (!output) return (void)Fail("cannot write " + path);
    const bool moved = Transfer(header, descriptor, &output, entry);
    if (!output.Close()) return (void)Fail("cannot write " + path);
    if (moved) outcome_.entries.push_back(entry);
  }

  // The entry's data into `output` (none: read and dropped), its sizes and CRC-32 checked.
  bool Transfer(const LocalHeader& header, bool descriptor, OutputFile* output, StreamedEntry& entry) {
    const bool copied = header.method == kStored ? Copy(header, output, entry) : Inflate(header, output, entry);
    if (!copied) return false;
    if (descriptor && !ReadDescriptor(header, entry)) return false;
    const std::uint32_t expectedCrc = descriptor ? entry.crc32 : header.crc32;
    if (!descriptor && (entry.size != header.size || entry.compressedSize != header.compressedSize))
      return Fail("sizes other than its local header gives: " + entry.name);
    if (written_ != expectedCrc) return Fail("a CRC-32 mismatch in " + entry.name);
    entry.crc32 = expectedCrc;
    return true;
  }

  bool Copy(const LocalHeader& header, OutputFile* output, StreamedEntry& entry) {
    std::uint64_t left = header.compressedSize;
    uLong crc = crc32(0L, Z_NULL, 0);
    while (left > 0) {
      if (!source_.Need(1)) return Fail("the archive ended in " + entry.name);
      const auto step = static_cast<std::size_t>(std::min<std::uint64_t>(left, source_.Buffered()));
      if (output != nullptr && (!output->Write(source_.Data(), step) || !RoomLeft(entry.name)))
        return Fail("cannot write " + entry.name);
      crc = crc32(crc, reinterpret_cast<const Bytef*>(source_.Data()), static_cast<uInt>(step));
      source_.Consume(step);
      left -= step;
    }
    entry.size = entry.compressedSize = header.compressedSize;
    written_ = static_cast<std::uint32_t>(crc);
    return true;
  }

  bool Inflate(const LocalHeader& header, OutputFile* output, StreamedEntry& entry) {
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return Fail("no inflate state for " + entry.name);
    struct End {
      z_stream& stream;
      ~End() { inflateEnd(&stream); }
    } end{stream};
    const bool sized = (header.flags & kDescriptorFlag) == 0;
    std::uint64_t left = header.compressedSize;  // with sizes: never read past the entry
    std::uint64_t consumed = 0;
    std::uint64_t produced = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    if (out_.empty()) out_.resize(kStreamBlockBytes);
    for (int status = Z_OK; status != Z_STREAM_END;) {
      if (sized && left == 0) return Fail("the deflated data of " + entry.name + " ends before its stream");
      if (!source_.Need(1)) return Fail("the archive ended in " + entry.name);
      std::size_t offered = source_.Buffered();
      if (sized) offered = static_cast<std::size_t>(std::min<std::uint64_t>(offered, left));
      offered = std::min<std::size_t>(offered, 1u << 30);
      stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(source_.Data()));
      stream.avail_in = static_cast<uInt>(offered);
      do {
        stream.next_out = reinterpret_cast<Bytef*>(out_.data());
        stream.avail_out = static_cast<uInt>(out_.size());
        status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
          return Fail("damaged deflated data in " + entry.name);
        const std::size_t made = out_.size() - stream.avail_out;
        if (made > 0) {
          if (output != nullptr && (!output->Write(out_.data(), made) || !RoomLeft(entry.name)))
            return Fail("cannot write " + entry.name);
          crc = crc32(crc, reinterpret_cast<const Bytef*>(out_.data()), static_cast<uInt>(made));
          produced += made;
        }
      } while (status != Z_STREAM_END && stream.avail_out == 0);
      const std::size_t used = offered - stream.avail_in;
      source_.Consume(used);
      consumed += used;
      if (sized) left -= used;
    }
    entry.compressedSize = consumed;
    entry.size = produced;
    written_ = static_cast<std::uint32_t>(crc);
    return true;
  }

  // The data descriptor after a deflated entry: with or without its signature, with 8-byte sizes
  // after a zip64 local header or 4-byte ones. The form whose values match what was inflated wins.
  bool ReadDescriptor(const LocalHeader& header, StreamedEntry& entry) {
    struct Form {
      std::size_t signature;
      std::size_t sizeBytes;
    };
    const Form wide[] = {{4, 8}, {4, 4}, {0, 8}, {0, 4}};
    const Form narrow[] = {{4, 4}, {0, 4}, {4, 8}, {0, 8}};
    for (const Form& form : header.zip64 ? wide : narrow) {
      const std::size_t bytes = form.signature + 4 + 2 * form.sizeBytes;
      if (!source_.Need(bytes)) continue;
      const char* at = source_.Data();
      if (form.signature != 0 && Le32(at) != kDescriptorSignature) continue;
      at += form.signature;
      const std::uint32_t crc = Le32(at);
      const std::uint64_t compressed = form.sizeBytes == 8 ? Le64(at + 4) : Le32(at + 4);
      const std::uint64_t size = form.sizeBytes == 8 ? Le64(at + 12) : Le32(at + 8);
      if (crc != written_ || compressed != entry.compressedSize || size != entry.size) continue;
      source_.Consume(bytes);
      entry.crc32 = crc;
      return true;
    }
    return Fail("no data descriptor that matches " + entry.name);
  }

  // False, with the reason kept, when the volume has less room than the download still needs.
  bool RoomLeft(const std::string& name) {
    if (room_.HasRoom(source_.Position())) return true;
    return Fail("the disk would not hold the rest of the download beside " + name);
  }

  ByteSource& source_;
  std::string staging_;
  RoomNeed room_;
  StreamOutcome outcome_;
  std::set<std::string> folders_;  // relative, with the system's separator
  std::set<std::string> files_;
  std::vector<char> out_;
  std::uint32_t written_ = 0;  // the CRC-32 of the entry just written
};

}  // namespace

StreamUnpack::StreamUnpack(std::string archivePath, std::string destination, std::uint64_t archiveBytes)
    : archivePath_(std::move(archivePath)),
      destination_(std::move(destination)),
      archiveBytes_(archiveBytes),
      archive_(std::make_shared<GrowingArchive>()) {
  thread_ = std::thread([this] { Run(); });
}

StreamUnpack::~StreamUnpack() {
  Cancel();
  if (thread_.joinable()) thread_.join();
}

void StreamUnpack::Cancel() { archive_->Cancel(); }

StreamOutcome StreamUnpack::Finish() {
  if (thread_.joinable()) thread_.join();
  StreamOutcome outcome = outcome_;
  // Bytes may be taken back even after the stream's end.
  if (outcome.complete && !archive_->Complete()) outcome = {false, "the download took back bytes of the archive", {}};
  return outcome;
}

void StreamUnpack::Run() {
  const std::string staging = StagingFolderOf(destination_);
  // What an earlier run staged may be of another package or half written.
  if (!DiscardStaging(destination_) ||
      (!platform::IsDirectory(destination_) && !platform::MakeDirectory(destination_)) ||
      !platform::MakeDirectory(staging)) {
    outcome_.reason = "cannot make the staging folder " + staging;
    return;
  }
  {
    GrowingArchiveReader reader(archivePath_, *archive_);
    ByteSource source(reader);
    outcome_ = Stream(source, staging, RoomNeed(archivePath_, staging, archiveBytes_)).Run();
  }
  // Every staged file is closed before the outcome counts: the commit moves them next.
  if (!FinishClosingFiles() && outcome_.complete) outcome_ = {false, "a staged file could not be closed", {}};
  // The staging is good only for a download that ends complete; the central directory may
  // have come before a failure.
  if (outcome_.complete && !archive_->WaitForEnd()) {
    outcome_ = {
        false,
        archive_->Spoiled() ? "bytes the stream had read were downloaded again" : "the download did not end complete",
        {}};
  }
  if (outcome_.complete) {
    std::printf("unpacked %zu entries while downloading\n", outcome_.entries.size());
  } else {
    std::printf("unpacking while downloading stopped: %s\n", outcome_.reason.c_str());
    DiscardStaging(destination_);  // the room goes back to the download
  }
}

#include "package/entry_name.h"

#include <zlib.h>

#include <optional>
#include <vector>

#include "platform/text_encoding.h"

namespace {

constexpr std::uint16_t kUnicodePathTag = 0x7075;
constexpr int kMadeOnUnix = 3;
constexpr unsigned char kUnicodePathVersion = 1;
constexpr std::size_t kFieldHeaderBytes = 4;      // tag and data size
constexpr std::size_t kUnicodePathHeadBytes = 5;  // version and the stored name's CRC-32

std::uint32_t LittleEndian(const std::string& bytes, std::size_t at, int count) {
  std::uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

// What a lead byte starts: the sequence's length in bytes (0: no sequence starts so), the value
// bits the lead carries, and the smallest value the length may hold (smaller is overlong).
struct Sequence {
  std::size_t length;
  std::uint32_t leadBits;
  std::uint32_t smallest;
};

Sequence SequenceStartedBy(unsigned char lead) {
  if (lead < 0x80) return {1, lead, 0};
  if ((lead & 0xe0) == 0xc0) return {2, lead & 0x1fu, 0x80};
  if ((lead & 0xf0) == 0xe0) return {3, lead & 0x0fu, 0x800};
  if ((lead & 0xf8) == 0xf0) return {4, lead & 0x07u, 0x10000};
  return {0, 0, 0};
}

bool IsAscii(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// The UTF-8 name of a Unicode Path field that belongs to `storedName`; nothing otherwise.
// A malformed field list ends the search: what follows a bad length cannot be trusted.
std::optional<std::string> UnicodePathName(const std::string& storedName, const std::string& extra) {
  std::size_t at = 0;
  while (at + kFieldHeaderBytes <= extra.size()) {
    const auto tag = LittleEndian(extra, at, 2);
    const std::size_t size = LittleEndian(extra, at + 2, 2);
    const std::size_t data = at + kFieldHeaderBytes;
    if (data + size > extra.size()) return std::nullopt;
    if (tag == kUnicodePathTag && size >= kUnicodePathHeadBytes &&
        static_cast<unsigned char>(extra[data]) == kUnicodePathVersion) {
      const auto expected = LittleEndian(extra, data + 1, 4);
      const auto actual =
          crc32(0L, reinterpret_cast<const Bytef*>(storedName.data()), static_cast<uInt>(storedName.size()));
      std::string name = extra.substr(data + kUnicodePathHeadBytes, size - kUnicodePathHeadBytes);
      if (expected == actual && !name.empty() && IsValidUtf8(name)) return name;
      return std::nullopt;
    }
    at = data + size;
  }
  return std::nullopt;
}

}  // namespace

bool IsValidUtf8(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const Sequence sequence = SequenceStartedBy(static_cast<unsigned char>(text[i]));
    if (sequence.length == 0 || text.size() - i < sequence.length) return false;
    std::uint32_t value = sequence.leadBits;
    for (std::size_t k = 1; k < sequence.length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xc0) != 0x80) return false;
      value = (value << 6) | (next & 0x3fu);
    }
    if (value < sequence.smallest || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff)) return false;
    i += sequence.length;
  }
  return true;
}

bool ReadCurrentEntry(unzFile archive, unz_file_info64& info, StoredName& name) {
  if (unzGetCurrentFileInfo64(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return false;
  std::vector<char> nameBuffer(info.size_filename + 1, '\0');
  std::vector<char> extraBuffer(info.size_file_extra + 1, '\0');
  if (unzGetCurrentFileInfo64(archive, &info, nameBuffer.data(), static_cast<uLong>(nameBuffer.size()),
                              extraBuffer.data(), static_cast<uLong>(extraBuffer.size()), nullptr, 0) != UNZ_OK) {
    return false;
  }
  name.bytes.assign(nameBuffer.data(), info.size_filename);
  name.extraField.assign(extraBuffer.data(), info.size_file_extra);
  name.flags = static_cast<std::uint16_t>(info.flag);
  name.versionMadeBy = static_cast<std::uint16_t>(info.version);
  return true;
}

std::string DecodeEntryName(const StoredName& stored) {
  const std::string& name = stored.bytes;
  if ((stored.flags & kUtf8NameFlag) != 0) return IsValidUtf8(name) ? name : std::string();
  if (auto unicode = UnicodePathName(name, stored.extraField)) return *unicode;
  if (IsAscii(name)) return name;  // the same in every reading
  if ((stored.versionMadeBy >> 8) == kMadeOnUnix && IsValidUtf8(name)) return name;
  return platform::GbkToUtf8(name);
}

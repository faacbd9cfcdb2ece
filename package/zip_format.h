// The zip format's fixed records as every archive reader of the package layer sees them:
// signatures, fixed record sizes, flags, methods, zip64 markers, and the one little-endian read.
#pragma once

#include <cstdint>

namespace zip_format {

inline constexpr std::uint32_t kLocalHeaderSignature = 0x04034b50;
inline constexpr std::uint32_t kCentralHeaderSignature = 0x02014b50;
inline constexpr std::uint32_t kDigitalSignatureSignature = 0x05054b50;
inline constexpr std::uint32_t kEndSignature = 0x06054b50;
inline constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
inline constexpr std::uint32_t kDescriptorSignature = 0x08074b50;

inline constexpr std::uint64_t kLocalHeaderSize = 30;
inline constexpr std::uint64_t kCentralHeaderSize = 46;
inline constexpr std::uint64_t kEndRecordSize = 22;
inline constexpr std::uint64_t kZip64LocatorSize = 20;
inline constexpr std::uint64_t kZip64EndRecordSize = 56;
inline constexpr std::uint64_t kMaxComment = 65535;

inline constexpr std::uint16_t kEncryptedFlag = 1;
inline constexpr std::uint16_t kDescriptorFlag = 1u << 3;
inline constexpr std::uint16_t kStored = 0;
inline constexpr std::uint16_t kDeflated = 8;

// A 32-bit (or 16-bit) field holding all ones says the real value is in the zip64 extra field.
inline constexpr std::uint16_t kZip64ExtraId = 0x0001;
inline constexpr std::uint32_t kZip64Marker32 = 0xffffffffu;
inline constexpr std::uint16_t kZip64Marker16 = 0xffffu;

// The unsigned little-endian value of the `width` bytes (1 to 8) at `at`; the caller checked the bounds.
inline std::uint64_t LoadLittleEndian(const void* at, int width) {
  const auto* bytes = static_cast<const unsigned char*>(at);
  std::uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

}  // namespace zip_format

// The digests of a package archive (MD5 always, SHA-256 when the file information names one),
// computed on the bytes as they are written, and remembered for the verification stage so it
// need not read the archive again.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/hash_stream.h"

// What an archive's bytes hash to; empty texts for a digest that was not computed or failed.
struct ArchiveDigests {
  std::string md5;
  std::string sha256;
  std::uint64_t bytes = 0;
};

// The running digests of the first Bytes() bytes of an archive, fed in order.
class ArchiveDigest {
 public:
  explicit ArchiveDigest(bool withSha256);

  // Starts over at byte 0.
  void Reset();
  void Update(const char* data, std::size_t size);
  // Marks the digest as not covering the bytes in order (a read failed, a write was cut).
  void Spoil() { spoiled_ = true; }
  bool Spoiled() const { return spoiled_; }
  std::uint64_t Bytes() const { return bytes_; }
  bool WithSha256() const { return withSha256_; }
  // Ends the hashing; nullopt when it was spoiled or the system's hashing failed.
  std::optional<ArchiveDigests> Finish();

 private:
  bool withSha256_;
  std::unique_ptr<platform::HashStream> md5_;
  std::unique_ptr<platform::HashStream> sha256_;
  std::uint64_t bytes_ = 0;
  bool spoiled_ = false;
};

// Feeds the file's first `bytes` bytes to `digest` (after a Reset); false, with the digest
// spoiled, when they cannot all be read.
bool HashFilePrefix(const std::string& path, std::uint64_t bytes, ArchiveDigest& digest);
// The digests of the whole file; nullopt when it cannot be read or hashed.
std::optional<ArchiveDigests> HashWholeFile(const std::string& path, bool withSha256);

// Digests this process computed for archives on disk, each valid while the file keeps the size
// and modification time it had when its digest was taken: the check, or the download, hashes an
// archive once, and the verification stage takes the result instead of reading it again.
class DigestMemo {
 public:
  // Remembers the digests of the file as it is now; nothing when the file cannot be examined
  // or its size differs from what was hashed.
  static void Remember(const std::string& path, const ArchiveDigests& digests);
  // The digests remembered for exactly the bytes the file holds now; nullopt otherwise.
  static std::optional<ArchiveDigests> Find(const std::string& path);
  static void Forget(const std::string& path);
};

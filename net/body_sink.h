// Where the body of an archive download goes: the partial archive on disk, or memory. Every
// body byte passes Write(); Restart() is the one place where what was kept is cut back, so
// anything that must see the archive's bytes in order (a digest) hooks in at these two.
//
// With a digest, every byte kept is hashed as it is written. A download that continues a file
// whose first bytes the digest has not seen (a partial archive from an earlier run, or bytes an
// earlier attempt could not account for) has those bytes hashed from the disk on a helper
// thread, while libcurl makes the connection; the first new block waits for it.
//
// With a growing archive, every block is flushed to the file as it is written and the bytes the
// file holds are published, so a reader on another thread can unpack them meanwhile; a file
// about to be replaced or cut is announced first.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

class ArchiveDigest;
class GrowingArchive;

class BodySink {
 public:
  // Memory mode when `path` is empty. `limit`: the archive never grows past this many bytes (a
  // server sending without end must not fill the disk); 0 for none.
  // `digest` (may be null; file mode only) follows the bytes kept and must outlive the sink;
  // so must `growing` (may be null; file mode only).
  BodySink(std::string path, std::uint64_t limit, ArchiveDigest* digest = nullptr, GrowingArchive* growing = nullptr);
  ~BodySink();
  BodySink(const BodySink&) = delete;
  BodySink& operator=(const BodySink&) = delete;

  // Opens the file to continue after `offset` bytes: the bytes past it are cut off, and a file
  // shorter than that (or none) is started afresh. `allowed` is the offset the file allows (0
  // when it starts afresh); false when the file cannot be opened.
  bool Open(std::uint64_t offset, std::uint64_t& allowed);
  // Appends a block; false when it would pass the limit or cannot be written.
  bool Write(const char* data, std::size_t size);
  // Keeps only the first `offset` bytes and writes on from there; false when that fails.
  bool Restart(std::uint64_t offset);
  // Bytes kept so far.
  std::uint64_t Position() const { return position_; }
  // Flushes and closes the file; false when data could not reach the disk (a full disk may show
  // only here). True in memory mode.
  bool Close();
  // The body collected in memory mode.
  const std::string& Memory() const { return memory_; }

 private:
  // Hashes the file's first `offset` bytes on the helper thread unless the digest has seen exactly them.
  void CatchUpDigest(std::uint64_t offset);
  void WaitForDigest();
  // The file will hold `offset` bytes next (0: a new file replaces it).
  void Announce(std::uint64_t offset);

  struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };

  std::string path_;
  std::uint64_t limit_;
  std::uint64_t position_ = 0;
  std::unique_ptr<std::FILE, FileCloser> file_;
  std::string memory_;
  ArchiveDigest* digest_;
  GrowingArchive* growing_;
  std::thread catchUp_;
};

// Whole-file digests of the archive: the MD5 the launcher compares with "zipMd5", and the
// SHA-256 of "zipSha256" that signed releases add.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

namespace publish {

// 32 lower-case hexadecimal digits. Throws PublishError when the file cannot be read.
std::string Md5OfFile(const std::filesystem::path& file);

struct FileDigests {
  std::string md5;     // 32 lower-case hex digits
  std::string sha256;  // 64 lower-case hex digits; empty when not asked for
};

// Digests of bytes that arrive in blocks (a download), computed as they pass.
class StreamDigests {
 public:
  // A digest that cannot be started or fed fails at Finish.
  explicit StreamDigests(bool withSha256);
  ~StreamDigests();
  StreamDigests(const StreamDigests&) = delete;
  StreamDigests& operator=(const StreamDigests&) = delete;
  void Update(const char* data, std::size_t size);
  // Ends the digests; throws PublishError when that fails.
  FileDigests Finish();

 private:
  struct Contexts;
  std::unique_ptr<Contexts> contexts_;
};

// Both digests in one read of the file. Throws PublishError when the file cannot be read.
FileDigests DigestsOfFile(const std::filesystem::path& file, bool withSha256);

}  // namespace publish

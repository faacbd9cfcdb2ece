// A digest fed block by block (MD5 or SHA-256), through the system's cryptography: OpenSSL on
// Linux, CryptoAPI on Windows. The archive's bytes are hashed as they are written, so no digest
// needs a second read of the file.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

enum class HashKind { Md5, Sha256 };

class HashStream {
 public:
  explicit HashStream(HashKind kind);
  ~HashStream();
  HashStream(const HashStream&) = delete;
  HashStream& operator=(const HashStream&) = delete;

  // Adds the bytes; a failure of the system's hashing makes Finish return empty.
  void Update(const void* data, std::size_t size);
  // Lower-case hexadecimal digits of the digest; empty when any step failed. Ends the stream.
  std::string Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform

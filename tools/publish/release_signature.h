// Release keys and detached signatures of the channel's documents.
//
// A document's signature file `<doc>.sig` holds the standard base64 (with padding) of the
// 64-byte Ed25519 detached signature over the document's exact bytes, optionally followed by
// one newline. The secret-key file holds libsodium's 64-byte Ed25519 secret key as base64 on
// one line and is created with mode 0600; the public key launchers compile in is the base64
// of its 32 bytes.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "update/release_signature.h"

namespace publish {

// The launcher's own key type and checks (update/release_signature.h) judge every signature, so
// `verify` refuses exactly what a launcher refuses.
using PublicKey = ReleaseKey;

// Standard alphabet with padding.
std::string ToBase64(const unsigned char* bytes, std::size_t length);
// The bytes of exactly `expectedLength`, or empty when `text` is not such base64 (no spaces or
// other characters allowed).
std::optional<std::string> FromBase64(std::string_view text, std::size_t expectedLength);

// A release's signing key read from its file. The secret bytes are wiped when it ends.
class SigningKey {
 public:
  // Throws PublishError naming the file when it cannot be read or holds no secret key.
  static SigningKey ReadFile(const std::filesystem::path& file);
  ~SigningKey();
  SigningKey(const SigningKey&) = delete;
  SigningKey& operator=(const SigningKey&) = delete;
  SigningKey(SigningKey&& other) noexcept;
  SigningKey& operator=(SigningKey&&) = delete;

  PublicKey Public() const;
  // The text of `<doc>.sig` for `document`: base64 of the signature and a newline.
  std::string SignatureFileText(std::string_view document) const;

 private:
  SigningKey() = default;
  std::array<unsigned char, 64> secret_{};
};

// Writes a new secret key into `file` (mode 0600), never over an existing file or through a
// link. Returns the public key as base64. Throws PublishError with the reason.
std::string GenerateSecretKeyFile(const std::filesystem::path& file);

}  // namespace publish

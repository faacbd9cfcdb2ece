// Ed25519 signatures of the release documents, through libsodium.
//
// A document's signature lies beside it as "<document>.sig": the base64 (standard alphabet, with
// padding) of the 64-byte detached signature over the document's exact bytes, optionally followed
// by one line end. Nothing else is accepted: no blanks, no second line, no other alphabet.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

using ReleaseKey = std::array<unsigned char, 32>;

enum class SignatureCheck {
  kValid,
  kMalformed,  // not the base64 of 64 bytes as described above
  kMismatch,   // well formed, but not made by the release key over these bytes
};

// The key from its base64 text; nullopt unless it is exactly 32 bytes in strict base64.
std::optional<ReleaseKey> DecodeReleaseKey(std::string_view base64);
// Strict standard base64 with padding; nullopt on any other character or a non-canonical end.
std::optional<std::string> DecodeBase64(std::string_view text);
// Checks a signature file's text against the document's bytes.
SignatureCheck CheckSignature(const ReleaseKey& key, std::string_view document, std::string_view signatureText);

#include "update/release_signature.h"

#include <sodium.h>

#include <stdexcept>

namespace {

constexpr std::size_t kSignatureBytes = crypto_sign_BYTES;

// libsodium must be initialised once before its first use; it is safe from any thread.
void EnsureSodium() {
  static const int result = sodium_init();
  if (result < 0) throw std::runtime_error("libsodium could not be initialised");
}

// The one line end a signature file may end with (CR LF as well: an editor on Windows).
std::string_view WithoutLineEnd(std::string_view text) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  return text;
}

}  // namespace

std::optional<std::string> DecodeBase64(std::string_view text) {
  EnsureSodium();
  std::string bytes(text.size() / 4 * 3 + 3, '\0');
  std::size_t length = 0;
  const char* end = nullptr;
  if (sodium_base642bin(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size(), text.data(), text.size(), nullptr,
                        &length, &end, sodium_base64_VARIANT_ORIGINAL) != 0) {
    return std::nullopt;
  }
  // The decoder stops at the first character outside the alphabet; all of it must be consumed.
  if (end != text.data() + text.size()) return std::nullopt;
  bytes.resize(length);
  return bytes;
}

std::optional<ReleaseKey> DecodeReleaseKey(std::string_view base64) {
  const std::optional<std::string> bytes = DecodeBase64(base64);
  if (!bytes || bytes->size() != crypto_sign_PUBLICKEYBYTES) return std::nullopt;
  ReleaseKey key{};
  std::copy(bytes->begin(), bytes->end(), key.begin());
  return key;
}

SignatureCheck CheckSignature(const ReleaseKey& key, std::string_view document, std::string_view signatureText) {
  const std::optional<std::string> signature = DecodeBase64(WithoutLineEnd(signatureText));
  if (!signature || signature->size() != kSignatureBytes) return SignatureCheck::kMalformed;
  const int verified =
      crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature->data()),
                                  reinterpret_cast<const unsigned char*>(document.data()), document.size(), key.data());
  return verified == 0 ? SignatureCheck::kValid : SignatureCheck::kMismatch;
}

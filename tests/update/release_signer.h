// A release key pair made for one test run, signing documents as the studio's tooling does:
// base64 (standard alphabet, padded) of the detached Ed25519 signature, then one line end.
#pragma once

#include <sodium.h>

#include <array>
#include <stdexcept>
#include <string>

namespace updatetest {

class ReleaseSigner {
 public:
  ReleaseSigner() {
    if (sodium_init() < 0) throw std::runtime_error("sodium_init failed");
    crypto_sign_keypair(public_.data(), secret_.data());
  }

  // What LAUNCHER_RELEASE_PUBLIC_KEY holds.
  std::string PublicKeyBase64() const { return Base64(public_.data(), public_.size()); }

  // The text of "<document>.sig".
  std::string Sign(const std::string& document) const {
    std::array<unsigned char, crypto_sign_BYTES> signature{};
    crypto_sign_detached(signature.data(), nullptr, reinterpret_cast<const unsigned char*>(document.data()),
                         document.size(), secret_.data());
    return Base64(signature.data(), signature.size()) + "\n";
  }

  static std::string Base64(const unsigned char* bytes, std::size_t length) {
    std::string text(sodium_base64_ENCODED_LEN(length, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), bytes, length, sodium_base64_VARIANT_ORIGINAL);
    text.resize(text.size() - 1);  // the terminating zero
    return text;
  }

 private:
  std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> public_{};
  std::array<unsigned char, crypto_sign_SECRETKEYBYTES> secret_{};
};

}  // namespace updatetest

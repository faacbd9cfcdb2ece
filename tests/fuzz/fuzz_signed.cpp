// Signed documents: the signature file's text and the new members, read by a launcher with a
// release key. The input is "<signature text>\0<document>" (no zero byte: all of it is the
// document, with no signature file).
#include <sodium.h>

#include <array>
#include <cstring>
#include <exception>
#include <optional>

#include "tests/fuzz/fuzz_entries.h"
#include "update/check.h"
#include "update/release_rules.h"

namespace fuzz {
namespace {

// A fixed key pair: the fuzzer needs documents that pass the signature to reach the members.
struct FuzzKey {
  std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> publicKey{};
  std::array<unsigned char, crypto_sign_SECRETKEYBYTES> secretKey{};
  FuzzKey() {
    Require(sodium_init() >= 0, "libsodium initialised");
    std::array<unsigned char, crypto_sign_SEEDBYTES> seed{};
    seed.fill(0x5a);
    crypto_sign_seed_keypair(publicKey.data(), secretKey.data(), seed.data());
  }
  std::string Sign(const std::string& document) const {
    std::array<unsigned char, crypto_sign_BYTES> signature{};
    crypto_sign_detached(signature.data(), nullptr, reinterpret_cast<const unsigned char*>(document.data()),
                         document.size(), secretKey.data());
    std::array<char, sodium_base64_ENCODED_LEN(crypto_sign_BYTES, sodium_base64_VARIANT_ORIGINAL)> text{};
    sodium_bin2base64(text.data(), text.size(), signature.data(), signature.size(), sodium_base64_VARIANT_ORIGINAL);
    return std::string(text.data()) + "\n";
  }
};

bool Refused(const std::function<void()>& check) {
  try {
    check();
    return false;
  } catch (const std::exception&) {
    return true;
  }
}

}  // namespace

int SignedRelease(const std::uint8_t* data, std::size_t size) {
  ScratchFolder();
  static const FuzzKey key;
  ReleaseKey releaseKey{};
  std::copy(key.publicKey.begin(), key.publicKey.end(), releaseKey.begin());
  static const ReleaseRules rules(releaseKey, "MorvanePC1");
  static const SerialStore serials("fuzz_data/releaseSerial");

  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t zero = input.find('\0');
  std::optional<std::string> signatureText;
  std::string document = input;
  if (zero != std::string::npos) {
    signatureText = input.substr(0, zero);
    document = input.substr(zero + 1);
  }

  // The fuzzed signature text: read without a crash, and never taken for the key's signature
  // unless it is that signature (Ed25519 signatures of one key over one text are unique).
  const std::string genuine = key.Sign(document);
  if (signatureText) {
    const SignatureCheck check = CheckSignature(releaseKey, document, *signatureText);
    std::string bare = *signatureText;
    while (!bare.empty() && (bare.back() == '\n' || bare.back() == '\r')) bare.pop_back();
    Require(check != SignatureCheck::kValid || bare + "\n" == genuine, "only the genuine signature holds");
    const SignedDocument fuzzed{"fuzzed.json", document, signatureText};
    Require(check == SignatureCheck::kValid || Refused([&] { rules.CheckFileInfo(fuzzed, "1.0.3"); }),
            "a document whose signature fails is refused");
  }
  Require(CheckSignature(releaseKey, document, genuine) == SignatureCheck::kValid, "the genuine signature holds");

  // The members behind a signature that holds.
  const SignedDocument signedDocument{"fuzzed.json", document, genuine};
  std::string sha;
  if (!Refused([&] { sha = rules.CheckFileInfo(signedDocument, "1.0.3"); })) {
    Require(sha.size() == 64 && sha.find_first_not_of("0123456789abcdef") == std::string::npos,
            "an accepted archive digest is 64 lower-case hex digits");
    FileInfo info;
    if (!Refused([&] { info = Check::ParseFileInfo(document, true); })) {
      Require(info.zipSha256 == sha, "the evaluation reads the digest the rules accepted");
    }
  }
  std::filesystem::remove_all("fuzz_data");
  if (!Refused([&] { rules.CheckConfig(signedDocument, 1765000000000, serials); })) {
    Require(serials.Highest() >= 1, "an accepted configuration's serial is kept");
  }
  return 0;
}

}  // namespace fuzz

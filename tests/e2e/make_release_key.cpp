// Makes the test build's release key pair when the tests are built:
//   make_release_key <secret-key-file> <header>
// The secret key file is what the studio's keygen writes (base64 of libsodium's 64-byte Ed25519
// secret key, one line, mode 0600); the header defines the public key for a test launcher.
#include <sodium.h>
#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

std::string Base64(const unsigned char* bytes, std::size_t length) {
  std::string text(sodium_base64_ENCODED_LEN(length, sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(text.data(), text.size(), bytes, length, sodium_base64_VARIANT_ORIGINAL);
  text.resize(text.size() - 1);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || sodium_init() < 0) {
    std::fprintf(stderr, "usage: make_release_key <secret-key-file> <header>\n");
    return 2;
  }
  std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> publicKey{};
  std::array<unsigned char, crypto_sign_SECRETKEYBYTES> secretKey{};
  crypto_sign_keypair(publicKey.data(), secretKey.data());
  {
    std::ofstream secret(argv[1], std::ios::binary | std::ios::trunc);
    secret << Base64(secretKey.data(), secretKey.size()) << "\n";
    if (!secret) return 1;
  }
  if (chmod(argv[1], 0600) != 0) return 1;
  std::ofstream header(argv[2], std::ios::binary | std::ios::trunc);
  header << "// Made by make_release_key when the tests were built: the test launcher's release key.\n"
         << "#pragma once\n#define LAUNCHER_RELEASE_PUBLIC_KEY_OVERRIDE \""
         << Base64(publicKey.data(), publicKey.size()) << "\"\n";
  return header ? 0 : 1;
}

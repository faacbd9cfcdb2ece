#include "tools/publish/md5_digest.h"

#include <openssl/evp.h>

#include <array>
#include <fstream>
#include <memory>
#include <vector>

#include "tools/publish/publish_error.h"

namespace publish {
namespace {

struct DigestContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

constexpr std::size_t kBlockSize = 1 << 20;

std::string ToLowerHex(const unsigned char* bytes, unsigned length) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned i = 0; i < length; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0xf];
  }
  return text;
}

}  // namespace

std::string Md5OfFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw PublishError("cannot read " + file.string());
  DigestContext context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1) {
    throw PublishError("cannot start an MD5 digest");
  }
  std::vector<char> block(kBlockSize);
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got > 0 && EVP_DigestUpdate(context.get(), block.data(), got) != 1) {
      throw PublishError("MD5 digest of " + file.string() + " failed");
    }
  }
  if (in.bad()) throw PublishError("error while reading " + file.string());
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1) {
    throw PublishError("MD5 digest of " + file.string() + " failed");
  }
  return ToLowerHex(digest.data(), length);
}

}  // namespace publish

#include "tools/publish/md5_digest.h"

#include <openssl/evp.h>

#include <array>
#include <fstream>
#include <memory>
#include <utility>
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

std::string Md5OfFile(const std::filesystem::path& file) { return DigestsOfFile(file, false).md5; }

FileDigests DigestsOfFile(const std::filesystem::path& file, bool withSha256) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw PublishError("cannot read " + file.string());
  std::vector<std::pair<DigestContext, const EVP_MD*>> contexts;
  contexts.emplace_back(DigestContext(EVP_MD_CTX_new()), EVP_md5());
  if (withSha256) contexts.emplace_back(DigestContext(EVP_MD_CTX_new()), EVP_sha256());
  for (auto& [context, kind] : contexts) {
    if (!context || EVP_DigestInit_ex(context.get(), kind, nullptr) != 1) {
      throw PublishError("cannot start a digest");
    }
  }
  std::vector<char> block(kBlockSize);
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    for (auto& entry : contexts) {
      if (got > 0 && EVP_DigestUpdate(entry.first.get(), block.data(), got) != 1) {
        throw PublishError("digest of " + file.string() + " failed");
      }
    }
  }
  if (in.bad()) throw PublishError("error while reading " + file.string());
  std::vector<std::string> hex;
  for (auto& entry : contexts) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned length = 0;
    if (EVP_DigestFinal_ex(entry.first.get(), digest.data(), &length) != 1) {
      throw PublishError("digest of " + file.string() + " failed");
    }
    hex.push_back(ToLowerHex(digest.data(), length));
  }
  FileDigests digests;
  digests.md5 = hex[0];
  if (withSha256) digests.sha256 = hex[1];
  return digests;
}

}  // namespace publish

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

struct StreamDigests::Contexts {
  std::vector<std::pair<DigestContext, const EVP_MD*>> list;
};

StreamDigests::StreamDigests(bool withSha256) : contexts_(std::make_unique<Contexts>()) {
  contexts_->list.emplace_back(DigestContext(EVP_MD_CTX_new()), EVP_md5());
  if (withSha256) contexts_->list.emplace_back(DigestContext(EVP_MD_CTX_new()), EVP_sha256());
  for (auto& [context, kind] : contexts_->list) {
    if (!context || EVP_DigestInit_ex(context.get(), kind, nullptr) != 1) throw PublishError("cannot start a digest");
  }
}

StreamDigests::~StreamDigests() = default;

bool StreamDigests::Update(const char* data, std::size_t size) {
  for (auto& entry : contexts_->list) {
    if (size > 0 && EVP_DigestUpdate(entry.first.get(), data, size) != 1) return false;
  }
  return true;
}

FileDigests StreamDigests::Finish() {
  std::vector<std::string> hex;
  for (auto& entry : contexts_->list) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned length = 0;
    if (EVP_DigestFinal_ex(entry.first.get(), digest.data(), &length) != 1) throw PublishError("a digest failed");
    hex.push_back(ToLowerHex(digest.data(), length));
  }
  FileDigests digests;
  digests.md5 = hex[0];
  if (hex.size() > 1) digests.sha256 = hex[1];
  return digests;
}

FileDigests DigestsOfFile(const std::filesystem::path& file, bool withSha256) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw PublishError("cannot read " + file.string());
  StreamDigests digests(withSha256);
  std::vector<char> block(kBlockSize);
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    if (!digests.Update(block.data(), static_cast<std::size_t>(in.gcount()))) {
      throw PublishError("digest of " + file.string() + " failed");
    }
  }
  if (in.bad()) throw PublishError("error while reading " + file.string());
  return digests.Finish();
}

}  // namespace publish

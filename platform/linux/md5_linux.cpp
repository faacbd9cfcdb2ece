#include <openssl/evp.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

#include "platform/md5.h"

namespace platform {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
struct DigestContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

constexpr std::size_t kBlockSize = 256 * 1024;

}  // namespace

std::string Md5OfFile(const std::string& path) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    std::printf("CreateFile go wrong :%d\n", errno);
    return {};
  }
  std::unique_ptr<EVP_MD_CTX, DigestContextFree> context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1) {
    std::printf("CryptCreateHash go wrong:%d\n", 0);
    return {};
  }
  std::vector<unsigned char> block(kBlockSize);
  for (;;) {
    const std::size_t read = std::fread(block.data(), 1, block.size(), file.get());
    if (read > 0 && EVP_DigestUpdate(context.get(), block.data(), read) != 1) {
      std::printf("CryptHashData go wrong:%d\n", 0);
      return {};
    }
    if (read < block.size()) break;
  }
  if (std::ferror(file.get())) {
    std::printf("ReadFile go wrong:%d\n", errno);
    return {};
  }
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), value, &length) != 1) {
    std::printf("get length wrong\n");
    return {};
  }
  std::string digest;
  char pair[3];
  for (unsigned int i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", value[i]);
    digest += pair;
    std::printf("%s", pair);
  }
  std::printf("\n");
  return digest;
}

}  // namespace platform

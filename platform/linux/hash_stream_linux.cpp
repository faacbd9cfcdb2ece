#include <openssl/evp.h>

#include <cstdio>

#include "platform/hash_stream.h"

namespace platform {

struct HashStream::State {
  struct ContextFree {
    void operator()(EVP_MD_CTX* owned) const { EVP_MD_CTX_free(owned); }
  };
  std::unique_ptr<EVP_MD_CTX, ContextFree> context{EVP_MD_CTX_new()};
  bool failed = false;
};

HashStream::HashStream(HashKind kind) : state_(std::make_unique<State>()) {
  const EVP_MD* method = kind == HashKind::Md5 ? EVP_md5() : EVP_sha256();
  state_->failed = !state_->context || EVP_DigestInit_ex(state_->context.get(), method, nullptr) != 1;
}

HashStream::~HashStream() = default;

void HashStream::Update(const void* data, std::size_t size) {
  if (state_->failed || size == 0) return;
  state_->failed = EVP_DigestUpdate(state_->context.get(), data, size) != 1;
}

std::string HashStream::Finish() {
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (state_->failed || EVP_DigestFinal_ex(state_->context.get(), value, &length) != 1) {
    state_->failed = true;
    return {};
  }
  state_->failed = true;  // a finished context takes no more bytes
  std::string digest;
  char pair[3];
  for (unsigned int i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", value[i]);
    digest += pair;
  }
  return digest;
}

}  // namespace platform

// CryptoAPI's AES provider: unlike the full RSA provider of the whole-file MD5, it offers
// SHA-256 beside MD5.
#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>

#include <cstdio>
#include <limits>
#include <vector>

#include "platform/hash_stream.h"

namespace platform {

struct HashStream::State {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  bool failed = false;
  ~State() {
    if (hash != 0) CryptDestroyHash(hash);
    if (provider != 0) CryptReleaseContext(provider, 0);
  }
};

HashStream::HashStream(HashKind kind) : state_(std::make_unique<State>()) {
  const ALG_ID algorithm = kind == HashKind::Md5 ? CALG_MD5 : CALG_SHA_256;
  if (!CryptAcquireContextW(&state_->provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
    std::printf("CryptAcquireContext go wrong:%lu\n", GetLastError());
    state_->provider = 0;
    state_->failed = true;
    return;
  }
  if (!CryptCreateHash(state_->provider, algorithm, 0, 0, &state_->hash)) {
    std::printf("CryptCreateHash go wrong:%lu\n", GetLastError());
    state_->hash = 0;
    state_->failed = true;
  }
}

HashStream::~HashStream() = default;

void HashStream::Update(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const BYTE*>(data);
  // CryptHashData takes a 32-bit length.
  while (!state_->failed && size > 0) {
    const DWORD part =
        size > std::numeric_limits<DWORD>::max() / 2 ? std::numeric_limits<DWORD>::max() / 2 : static_cast<DWORD>(size);
    if (!CryptHashData(state_->hash, bytes, part, 0)) {
      std::printf("CryptHashData go wrong:%lu\n", GetLastError());
      state_->failed = true;
    }
    bytes += part;
    size -= part;
  }
}

std::string HashStream::Finish() {
  if (state_->failed) return {};
  state_->failed = true;  // a finished hash takes no more bytes
  DWORD length = 0;
  DWORD lengthSize = sizeof length;
  if (!CryptGetHashParam(state_->hash, HP_HASHSIZE, reinterpret_cast<BYTE*>(&length), &lengthSize, 0)) return {};
  std::vector<BYTE> value(length);
  if (!CryptGetHashParam(state_->hash, HP_HASHVAL, value.data(), &length, 0)) return {};
  std::string digest;
  char pair[3];
  for (DWORD i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", value[i]);
    digest += pair;
  }
  return digest;
}

}  // namespace platform

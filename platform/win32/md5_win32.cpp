// MD5 through CryptoAPI, read in blocks so memory stays flat for archives of any size.
// Each failing call reports itself on standard output with the system error number.
#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>

#include <cstdio>
#include <vector>

#include "platform/md5.h"
#include "platform/win32/wide_path.h"
#include "platform/win32/win_handles.h"

namespace platform {
namespace {

constexpr DWORD kBlockSize = 1024 * 1024;

void ReportFailure(const char* what) { std::printf("%s%lu\n", what, GetLastError()); }

class CryptProvider {
 public:
  CryptProvider() {
    if (!CryptAcquireContextW(&handle_, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
      ReportFailure("CryptAcquireContext go wrong:");
      handle_ = 0;
    }
  }
  CryptProvider(const CryptProvider&) = delete;
  CryptProvider& operator=(const CryptProvider&) = delete;
  ~CryptProvider() {
    if (handle_ != 0 && !CryptReleaseContext(handle_, 0)) ReportFailure("CryptReleaseContext go wrong:");
  }
  HCRYPTPROV Get() const { return handle_; }

 private:
  HCRYPTPROV handle_ = 0;
};

class CryptHash {
 public:
  explicit CryptHash(const CryptProvider& provider) {
    if (!CryptCreateHash(provider.Get(), CALG_MD5, 0, 0, &handle_)) {
      ReportFailure("CryptCreateHash go wrong:");
      handle_ = 0;
    }
  }
  CryptHash(const CryptHash&) = delete;
  CryptHash& operator=(const CryptHash&) = delete;
  ~CryptHash() {
    if (handle_ != 0 && !CryptDestroyHash(handle_)) ReportFailure("CryptDestroyHash go wrong:");
  }
  HCRYPTHASH Get() const { return handle_; }

 private:
  HCRYPTHASH handle_ = 0;
};

// Feeds the whole file to the hash; false (reported) when a read or the hashing fails, so a
// digest of part of the file is never taken for the file's.
bool HashFile(HANDLE file, const CryptHash& hash) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) {
    ReportFailure("GetFileSize go wrong:");
    return false;
  }
  std::vector<BYTE> block(kBlockSize);
  LONGLONG remaining = size.QuadPart;
  while (remaining > 0) {
    DWORD read = 0;
    const DWORD wanted = remaining < static_cast<LONGLONG>(kBlockSize) ? static_cast<DWORD>(remaining) : kBlockSize;
    if (!ReadFile(file, block.data(), wanted, &read, nullptr)) {
      ReportFailure("ReadFile go wrong:");
      return false;
    }
    if (read == 0) break;  // the file shrank while it was read
    if (!CryptHashData(hash.Get(), block.data(), read, 0)) {
      ReportFailure("CryptHashData go wrong:");
      return false;
    }
    remaining -= read;
  }
  if (remaining > 0) {
    std::printf("ReadFile go wrong:%lu\n", static_cast<unsigned long>(ERROR_HANDLE_EOF));
    return false;
  }
  return true;
}

std::string HashValue(const CryptHash& hash) {
  DWORD length = 0;
  if (!CryptGetHashParam(hash.Get(), HP_HASHVAL, nullptr, &length, 0)) {
    std::printf("get length wrong\n");
    return {};
  }
  std::vector<BYTE> value(length);
  if (!CryptGetHashParam(hash.Get(), HP_HASHVAL, value.data(), &length, 0)) return {};
  std::string digest;
  char pair[3];
  for (DWORD i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", value[i]);
    digest += pair;
    std::printf("%s", pair);
  }
  std::printf("\n");
  return digest;
}

}  // namespace

std::string Md5OfFile(const std::string& path) {
  win32::UniqueHandle file(CreateFileW(win32::WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    ReportFailure("CreateFile go wrong :");
    return {};
  }
  const CryptProvider provider;
  if (provider.Get() == 0) return {};
  const CryptHash hash(provider);
  if (hash.Get() == 0) return {};
  if (!HashFile(file.Get(), hash)) return {};
  return HashValue(hash);
}

}  // namespace platform

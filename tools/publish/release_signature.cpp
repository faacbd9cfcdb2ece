#include "tools/publish/release_signature.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "tools/publish/publish_error.h"
#include "update/release_signature.h"

namespace publish {
namespace {

constexpr int kBase64 = sodium_base64_VARIANT_ORIGINAL;

void StartSodium() {
  // Safe to call from several threads and more than once; it only fails without a random source.
  if (sodium_init() < 0) throw PublishError("libsodium cannot start (no random source?)");
}

std::string_view WithoutOneNewline(std::string_view text) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  return text;
}

// A file descriptor owner.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

}  // namespace

std::string ToBase64(const unsigned char* bytes, std::size_t length) {
  std::string text(sodium_base64_encoded_len(length, kBase64), '\0');
  sodium_bin2base64(text.data(), text.size(), bytes, length, kBase64);
  text.resize(std::strlen(text.c_str()));
  return text;
}

std::optional<std::string> FromBase64(std::string_view text, std::size_t expectedLength) {
  std::optional<std::string> bytes = DecodeBase64(text);
  if (!bytes || bytes->size() != expectedLength) return std::nullopt;
  return bytes;
}

SigningKey SigningKey::ReadFile(const std::filesystem::path& file) {
  StartSodium();
  std::ifstream in(file, std::ios::binary);
  if (!in) throw PublishError("cannot read the signing key " + file.string());
  std::ostringstream text;
  text << in.rdbuf();
  std::string content = text.str();
  auto bytes = FromBase64(WithoutOneNewline(content), crypto_sign_SECRETKEYBYTES);
  sodium_memzero(content.data(), content.size());
  if (!bytes) {
    throw PublishError(file.string() +
                       " is not a signing key (one line of base64 of a 64-byte Ed25519 secret key, as written by "
                       "launcher-publish keygen)");
  }
  SigningKey key;
  std::memcpy(key.secret_.data(), bytes->data(), key.secret_.size());
  sodium_memzero(bytes->data(), bytes->size());
  return key;
}

SigningKey::~SigningKey() { sodium_memzero(secret_.data(), secret_.size()); }

SigningKey::SigningKey(SigningKey&& other) noexcept : secret_(other.secret_) {
  sodium_memzero(other.secret_.data(), other.secret_.size());
}

PublicKey SigningKey::Public() const {
  PublicKey key{};
  crypto_sign_ed25519_sk_to_pk(key.data(), secret_.data());
  return key;
}

std::string SigningKey::SignatureFileText(std::string_view document) const {
  std::array<unsigned char, crypto_sign_BYTES> signature{};
  crypto_sign_detached(signature.data(), nullptr, reinterpret_cast<const unsigned char*>(document.data()),
                       document.size(), secret_.data());
  return ToBase64(signature.data(), signature.size()) + "\n";
}

std::string GenerateSecretKeyFile(const std::filesystem::path& file) {
  StartSodium();
  // O_EXCL with O_CREAT also refuses a link in the file's place, dangling or not.
  Descriptor fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR));
  if (fd.get() < 0) {
    const int error = errno;
    if (error == EEXIST) throw PublishError(file.string() + " already exists; a signing key is never overwritten");
    throw PublishError("cannot create " + file.string() + ": " + std::strerror(error));
  }
  std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> publicKey{};
  std::array<unsigned char, crypto_sign_SECRETKEYBYTES> secretKey{};
  crypto_sign_keypair(publicKey.data(), secretKey.data());
  std::string text = ToBase64(secretKey.data(), secretKey.size()) + "\n";
  sodium_memzero(secretKey.data(), secretKey.size());
  // The umask may only narrow the mode; set it exactly so a wide umask policy cannot matter.
  const bool written = ::fchmod(fd.get(), S_IRUSR | S_IWUSR) == 0 && WriteAll(fd.get(), text) &&
                       ::fsync(fd.get()) == 0 && ::close(fd.release()) == 0;
  sodium_memzero(text.data(), text.size());
  if (!written) {
    const int error = errno;
    ::unlink(file.c_str());
    throw PublishError("cannot write " + file.string() + ": " + std::strerror(error));
  }
  return ToBase64(publicKey.data(), publicKey.size());
}

}  // namespace publish

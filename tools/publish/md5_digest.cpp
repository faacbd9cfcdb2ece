#include "tools/publish/md5_digest.h"

#include <fstream>
#include <memory>
#include <vector>

#include "platform/hash_stream.h"
#include "tools/publish/publish_error.h"

namespace publish {
namespace {

constexpr std::size_t kBlockSize = 1 << 20;

}  // namespace

std::string Md5OfFile(const std::filesystem::path& file) { return DigestsOfFile(file, false).md5; }

// The launcher's own digest streams, so the publisher's digests are the ones a launcher computes.
struct StreamDigests::Contexts {
  platform::HashStream md5{platform::HashKind::Md5};
  std::unique_ptr<platform::HashStream> sha256;
};

StreamDigests::StreamDigests(bool withSha256) : contexts_(std::make_unique<Contexts>()) {
  if (withSha256) contexts_->sha256 = std::make_unique<platform::HashStream>(platform::HashKind::Sha256);
}

StreamDigests::~StreamDigests() = default;

void StreamDigests::Update(const char* data, std::size_t size) {
  if (size == 0) return;
  contexts_->md5.Update(data, size);
  if (contexts_->sha256) contexts_->sha256->Update(data, size);
}

FileDigests StreamDigests::Finish() {
  FileDigests digests;
  digests.md5 = contexts_->md5.Finish();
  if (contexts_->sha256) digests.sha256 = contexts_->sha256->Finish();
  if (digests.md5.empty() || (contexts_->sha256 && digests.sha256.empty())) throw PublishError("a digest failed");
  return digests;
}

FileDigests DigestsOfFile(const std::filesystem::path& file, bool withSha256) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw PublishError("cannot read " + file.string());
  StreamDigests digests(withSha256);
  std::vector<char> block(kBlockSize);
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    digests.Update(block.data(), static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) throw PublishError("error while reading " + file.string());
  try {
    return digests.Finish();
  } catch (const PublishError&) {
    throw PublishError("digest of " + file.string() + " failed");
  }
}

}  // namespace publish

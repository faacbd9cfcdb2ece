// The system's MD5 and SHA-256 fed block by block (OpenSSL on Linux, CryptoAPI under Windows),
// against the published test vectors, and the memo of digests that stands for a file only while
// the file is unchanged. Built for Windows too.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "package/archive_digest.h"
#include "platform/hash_stream.h"

namespace {

namespace fs = std::filesystem;

std::string DigestInPieces(platform::HashKind kind, const std::string& bytes, std::size_t piece) {
  platform::HashStream stream(kind);
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    stream.Update(bytes.data() + at, std::min(piece, bytes.size() - at));
  }
  return stream.Finish();
}

// RFC 1321 and FIPS 180-2 vectors, fed whole and in pieces that split the algorithms' 64-byte blocks.
TEST(HashStream, GivesThePublishedDigestsInAnyPieces) {
  const std::string million(1000000, 'a');
  for (const std::size_t piece : {std::size_t{1}, std::size_t{63}, std::size_t{65537}, million.size()}) {
    SCOPED_TRACE("pieces of " + std::to_string(piece));
    EXPECT_EQ(DigestInPieces(platform::HashKind::Md5, million, piece), "7707d6ae4e027c70eea2a935c2296f21");
    EXPECT_EQ(DigestInPieces(platform::HashKind::Sha256, million, piece),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  }
  EXPECT_EQ(DigestInPieces(platform::HashKind::Md5, "", 1), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(DigestInPieces(platform::HashKind::Sha256, "abc", 1),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

class DigestFileTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(folder_); }
  void TearDown() override {
    DigestMemo::Forget(path_);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  void Write(const std::string& bytes) { std::ofstream(path_, std::ios::binary | std::ios::trunc) << bytes; }

  fs::path folder_ = fs::temp_directory_path() /
                     ("digest-test-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::string path_ = (folder_ / "a.zip").string();
};

TEST_F(DigestFileTest, WholeFileAndPrefixDigests) {
  Write("hello world");
  const auto whole = HashWholeFile(path_, true);
  ASSERT_TRUE(whole.has_value());
  EXPECT_EQ(whole->md5, "5eb63bbbe01eeed093cb22bb8f5acdc3");
  EXPECT_EQ(whole->sha256, "b94d27b9934d3e08a52e52d7da7dabfac484efe37a5380ee9088f7ace2efcde9");
  EXPECT_EQ(whole->bytes, 11u);

  ArchiveDigest prefix(false);
  ASSERT_TRUE(HashFilePrefix(path_, 5, prefix));
  EXPECT_EQ(prefix.Bytes(), 5u);
  const auto hello = prefix.Finish();
  ASSERT_TRUE(hello.has_value());
  EXPECT_EQ(hello->md5, "5d41402abc4b2a76b9719d911017c592");
  EXPECT_EQ(hello->sha256, "");

  // More bytes than the file holds: no digest that pretends to cover them.
  ArchiveDigest beyond(true);
  EXPECT_FALSE(HashFilePrefix(path_, 12, beyond));
  EXPECT_FALSE(beyond.Finish().has_value());
  EXPECT_FALSE(HashWholeFile((folder_ / "missing.zip").string(), false).has_value());
}

// The memo speaks for the bytes it hashed only: a file changed since, even to the same size, has none.
TEST_F(DigestFileTest, MemoIsForgottenWhenTheFileChanges) {
  Write("hello");
  const auto digests = HashWholeFile(path_, true);
  ASSERT_TRUE(digests.has_value());
  DigestMemo::Remember(path_, *digests);
  ASSERT_TRUE(DigestMemo::Find(path_).has_value());
  EXPECT_EQ(DigestMemo::Find(path_)->md5, digests->md5);

  Write("jello");
  fs::last_write_time(path_, fs::last_write_time(path_) + std::chrono::seconds(2));
  EXPECT_FALSE(DigestMemo::Find(path_).has_value());

  DigestMemo::Remember(path_, ArchiveDigests{"00", "", 4});  // hashed another length than the file's
  EXPECT_FALSE(DigestMemo::Find(path_).has_value());
  DigestMemo::Remember(path_, *digests);
  fs::remove(path_);
  EXPECT_FALSE(DigestMemo::Find(path_).has_value());
}

}  // namespace

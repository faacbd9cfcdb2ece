// How the content server answers Range headers.
#include "tools/serve/byte_range.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "tools/serve/served_path.h"

namespace serve {
namespace {

using Kind = RangeAnswer::Kind;

void ExpectPartial(const std::string& header, std::uint64_t size, std::uint64_t first, std::uint64_t length) {
  const RangeAnswer answer = AnswerRange(header, size);
  EXPECT_EQ(answer.kind, Kind::kPartial) << header;
  EXPECT_EQ(answer.first, first) << header;
  EXPECT_EQ(answer.length, length) << header;
}

TEST(ByteRange, SingleRangesAreHonoured) {
  ExpectPartial("bytes=1000-", 5000, 1000, 4000);
  ExpectPartial("bytes=0-", 5000, 0, 5000);
  ExpectPartial("bytes=10-19", 5000, 10, 10);
  ExpectPartial("bytes=4999-", 5000, 4999, 1);
  ExpectPartial("bytes=4000-99999", 5000, 4000, 1000);  // an end past the file is cut to it
  ExpectPartial("bytes=-100", 5000, 4900, 100);
  ExpectPartial("bytes=-9000", 5000, 0, 5000);
  EXPECT_EQ(ContentRangeValue(AnswerRange("bytes=1000-", 5000), 5000), "bytes 1000-4999/5000");
}

TEST(ByteRange, StartAtOrPastTheEndIsUnsatisfiable) {
  EXPECT_EQ(AnswerRange("bytes=5000-", 5000).kind, Kind::kUnsatisfiable);
  EXPECT_EQ(AnswerRange("bytes=7000-8000", 5000).kind, Kind::kUnsatisfiable);
  EXPECT_EQ(AnswerRange("bytes=-0", 5000).kind, Kind::kUnsatisfiable);
  EXPECT_EQ(AnswerRange("bytes=0-", 0).kind, Kind::kUnsatisfiable);
  EXPECT_EQ(ContentRangeValue(AnswerRange("bytes=5000-", 5000), 5000), "bytes */5000");
}

TEST(ByteRange, AnythingElseGetsTheWholeFile) {
  for (const char* header : {"", "bytes=0-1,5-6", "items=0-", "bytes=5-2", "bytes=a-", "bytes=1", "bytes=-",
                             "bytes= 5-", "bytes=99999999999999999999999-"}) {
    const RangeAnswer answer = AnswerRange(header, 5000);
    EXPECT_EQ(answer.kind, Kind::kWhole) << header;
    EXPECT_EQ(answer.length, 5000u) << header;
  }
}

TEST(ServedPath, StaysInsideTheServedFolder) {
  namespace fs = std::filesystem;
  const std::string unique = std::to_string(getpid());
  const fs::path root = fs::temp_directory_path() / ("served_path_test_" + unique) / "root";
  fs::create_directories(root / "MorvanePC1");
  std::ofstream(root / "MorvanePC1" / "config.json") << "{}";
  std::ofstream(root.parent_path() / "outside.txt") << "secret";
  fs::create_symlink(root.parent_path() / "outside.txt", root / "escape");

  EXPECT_TRUE(ResolveServedFile(root, "/MorvanePC1/config.json"));
  EXPECT_FALSE(ResolveServedFile(root, "/MorvanePC1/missing.json"));
  EXPECT_FALSE(ResolveServedFile(root, "/MorvanePC1"));  // a folder is not a file
  EXPECT_FALSE(ResolveServedFile(root, "/"));
  EXPECT_FALSE(ResolveServedFile(root, "/../outside.txt"));
  EXPECT_FALSE(ResolveServedFile(root, "/MorvanePC1/../../outside.txt"));
  EXPECT_FALSE(ResolveServedFile(root, "/MorvanePC1\\..\\config.json"));
  EXPECT_FALSE(ResolveServedFile(root, "/escape"));
  EXPECT_FALSE(ResolveServedFile(root, "MorvanePC1/config.json"));
  fs::remove_all(root.parent_path());
}

}  // namespace
}  // namespace serve

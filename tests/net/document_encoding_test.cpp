// Documents stored compressed on a content delivery network: nginx serves precompressed files
// with Content-Encoding set, as such a network does for objects uploaded that way. Documents
// must arrive decoded; the archive must be asked for unencoded even where the server would
// compress it, since its bytes are resumed by offset and checked by digest.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "net/http_util.h"
#include "tests/net/transfer_recorder.h"
#include "tests/support/nginx_server.h"
#include "tests/support/scratch_dir.h"

namespace {

using testsupport::NginxServer;
using testsupport::ScratchDir;

const char* const kDocument = R"({"lastVersion":"1.0.3","unsupportedVersions":["0.*"],"note":"compressed on the CDN"})";

class DocumentEncodingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(nginx_.Started()) << nginx_.ErrorLog();
    const auto folder = nginx_.Root() / "MorvanePC1";
    std::filesystem::create_directories(folder);
    const std::string plain = scratch_.File("plain.json");
    std::ofstream(plain) << kDocument;
    // gzip by the gzip tool, deflate (the zlib format HTTP names so) by Python's zlib.
    ASSERT_EQ(std::system(("gzip -9 -n -c " + plain + " > " + (folder / "gzip.json").string()).c_str()), 0);
    ASSERT_EQ(std::system(("python3 -c 'import sys,zlib; sys.stdout.buffer.write(zlib.compress(open(sys.argv[1],"
                           "\"rb\").read()))' " +
                           plain + " > " + (folder / "deflate.json").string())
                              .c_str()),
              0);
    archive_ = std::string(200000, 'a');  // compresses to almost nothing, if anyone asks
    std::ofstream(folder / "pkg.zip", std::ios::binary) << archive_;
  }

  TransferCall Request(const std::string& path) {
    TransferRecorder recorder;
    ::testing::internal::CaptureStdout();
    HttpUtil::Request(nginx_.Url(0, path), "", recorder.Callback(), 5000);
    ::testing::internal::GetCapturedStdout();
    const auto finals = recorder.Finals();
    EXPECT_EQ(finals.size(), 1u);
    return finals.empty() ? TransferCall{} : finals.back();
  }

  NginxServer nginx_{R"(server { listen 127.0.0.1:@PORT0@; root @ROOT@;
      location = /MorvanePC1/gzip.json { default_type application/json; add_header Content-Encoding gzip; }
      location = /MorvanePC1/deflate.json { default_type application/json; add_header Content-Encoding deflate; }
      location = /MorvanePC1/pkg.zip { gzip on; gzip_min_length 1; gzip_types application/zip application/octet-stream; }
    })"};
  ScratchDir scratch_{"net-document-encoding"};
  std::string archive_;
};

TEST_F(DocumentEncodingTest, GzipAndDeflateDocumentsArriveDecoded) {
  for (const char* path : {"MorvanePC1/gzip.json", "MorvanePC1/deflate.json"}) {
    const auto final = Request(path);
    EXPECT_EQ(final.status, "succ") << path << ": " << final.payload;
    EXPECT_EQ(final.payload, kDocument) << path;
  }
}

TEST_F(DocumentEncodingTest, ArchiveIsFetchedUnencodedFromAServerThatWouldCompressIt) {
  TransferRecorder recorder;
  const std::string local = scratch_.File("pkg.zip");
  ::testing::internal::CaptureStdout();
  HttpUtil::Download({0, local, recorder.Callback(), nginx_.Url(0, "MorvanePC1/pkg.zip")});
  ::testing::internal::GetCapturedStdout();
  ASSERT_EQ(recorder.Finals().size(), 1u);
  EXPECT_EQ(recorder.Finals().back().status, "succ");
  EXPECT_TRUE(SameBytes(ReadFileBytes(local), archive_));
  // The archive's own length came over the wire; a compressed answer would have come chunked.
  const auto progress = recorder.Progress();
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back().second, archive_.size());
}

}  // namespace

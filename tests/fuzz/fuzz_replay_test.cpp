// Replays the seed corpus and every input that once broke an entry point, and the inputs too
// large to keep as files, through the fuzzed functions. This executable changes its working
// directory (the record and the cache live relative to it).
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/fuzz/fuzz_entries.h"

namespace {

using Entry = int (*)(const std::uint8_t*, std::size_t);

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int Feed(Entry entry, const std::string& bytes) {
  return entry(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// Every file of corpus/<target> and regressions/<target>; returns how many were fed.
int ReplayFolder(Entry entry, const std::string& target) {
  int fed = 0;
  for (const char* kind : {"corpus", "regressions"}) {
    const std::filesystem::path folder = std::filesystem::path(FUZZ_SOURCE_DIR) / kind / target;
    if (!std::filesystem::is_directory(folder)) continue;
    for (const auto& file : std::filesystem::directory_iterator(folder)) {
      SCOPED_TRACE(file.path().string());
      EXPECT_EQ(Feed(entry, ReadBytes(file.path())), 0);
      ++fed;
    }
  }
  return fed;
}

// On a thread of the default stack size, as the launcher's check runs.
void FeedOnWorker(Entry entry, const std::string& bytes) {
  std::thread worker([&] { Feed(entry, bytes); });
  worker.join();
}

std::string DeeplyNested(std::size_t depth) {
  return R"({"zipName":"a_1_0_3.zip","lastVersion":)" + std::string(depth, '[') + std::string(depth, ']') + "}";
}

TEST(FuzzReplay, ConfigurationCorpus) { EXPECT_GT(ReplayFolder(&fuzz::ConfigDocument, "config"), 3); }
TEST(FuzzReplay, FileInformationCorpus) { EXPECT_GT(ReplayFolder(&fuzz::FileInfoDocument, "file_info"), 3); }
TEST(FuzzReplay, SignedDocumentCorpus) { EXPECT_GT(ReplayFolder(&fuzz::SignedRelease, "signed"), 3); }
TEST(FuzzReplay, RecordCorpus) { EXPECT_GT(ReplayFolder(&fuzz::RecordFile, "record"), 3); }
TEST(FuzzReplay, ZipCorpus) { EXPECT_GT(ReplayFolder(&fuzz::ZipArchive, "zip"), 3); }
TEST(FuzzReplay, RemoteZipCorpus) { EXPECT_GT(ReplayFolder(&fuzz::RemoteZipArchive, "remote_zip"), 3); }

// Once overflowed the parsing thread's stack.
TEST(FuzzReplay, DocumentsNestedAMillionLevelsDeepDoNotCrash) {
  const std::string nested = DeeplyNested(1000000);
  FeedOnWorker(&fuzz::ConfigDocument, nested);
  FeedOnWorker(&fuzz::FileInfoDocument, nested);
  const std::string unterminated = std::string(1000000, '{') + "\"";
  FeedOnWorker(&fuzz::ConfigDocument, unterminated);
  FeedOnWorker(&fuzz::FileInfoDocument, unterminated);
}

TEST(FuzzReplay, LongRecordLinesAndManyKeys) {
  std::string record = "zipName=" + std::string(1 << 20, 'a') + "\r\n";
  for (int i = 0; i < 5000; ++i) record += "k" + std::to_string(i) + "=v\r\n";
  EXPECT_EQ(Feed(&fuzz::RecordFile, record), 0);
}

}  // namespace

// Unpacking by two workers side by side installs what one worker does: archives from Info-ZIP
// zip made at test time, names whose order matters, and a damaged entry among many.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>

#include "package/zip_util.h"
#include "tests/package/unzip_sandbox.h"
#include "tests/package/zip_builder.h"

namespace {

namespace fs = std::filesystem;

bool Shell(const fs::path& folder, const std::string& command) {
  const int status = std::system(("cd '" + folder.string() + "' && " + command).c_str());
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Every path below `folder` with its bytes; folders end with "/" and hold "".
std::map<std::string, std::string> Contents(const fs::path& folder) {
  std::map<std::string, std::string> contents;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string relative = fs::relative(entry.path(), folder).string();
    contents[entry.is_directory() ? relative + "/" : relative] = entry.is_directory() ? "" : ReadBytes(entry.path());
  }
  return contents;
}

class ParallelUnzipTest : public UnzipSandbox {
 protected:
  bool UnzipBy(unsigned workers, const fs::path& into) {
    return ZipUtil::UnzipAll(archive().string(), into.string(), Recorder(), workers);
  }
};

TEST_F(ParallelUnzipTest, TwoWorkersInstallAnInfoZipArchiveAsOneWorkerAndUnzipDo) {
  const fs::path build = root() / "build";
  std::mt19937 random(7);
  for (int i = 0; i < 120; ++i) {
    const fs::path file =
        build / ("d" + std::to_string(i % 7)) / ("sub" + std::to_string(i % 3)) / ("f" + std::to_string(i));
    fs::create_directories(file.parent_path());
    std::string bytes(static_cast<std::size_t>(random() % 70000), '\0');
    if (i % 2 == 0) {
      for (auto& byte : bytes) byte = static_cast<char>(random());
    } else {
      for (std::size_t at = 0; at < bytes.size(); ++at) bytes[at] = "level texture mesh\n"[at % 19];
    }
    WriteBytes(file, bytes);
  }
  fs::create_directories(build / "empty" / "folder");
  WriteBytes(build / "kolv.exe", std::string(3 * 1024 * 1024, 'k'));
  ASSERT_TRUE(Shell(build, "zip -q -r ../package.zip ."));
  ASSERT_TRUE(Shell(root(), "unzip -qq -o package.zip -d reference"));

  ASSERT_TRUE(UnzipBy(2, root() / "two")) << last().payload;
  const auto& twoCalls = calls();
  // One call per entry, counting up by one from whichever worker finished it, then "succ".
  ASSERT_GT(twoCalls.size(), 120u);
  for (std::size_t at = 0; at + 1 < twoCalls.size(); ++at) {
    EXPECT_EQ(twoCalls[at].status, "unzip");
    EXPECT_EQ(twoCalls[at].done, static_cast<long long>(at) + 1);
    EXPECT_EQ(twoCalls[at].total, static_cast<long long>(twoCalls.size()) - 1);
  }
  EXPECT_EQ(last().status, "succ");
  EXPECT_EQ(Contents(root() / "two"), Contents(root() / "reference"));
  ASSERT_TRUE(UnzipBy(1, root() / "one")) << last().payload;
  EXPECT_EQ(Contents(root() / "one"), Contents(root() / "two"));
}

TEST_F(ParallelUnzipTest, ANameGivenTwiceIsWrittenByItsLastEntryAndAFileFolderClashFails) {
  {
    ZipBuilder zip(archive());
    for (int i = 0; i < 20; ++i) zip.Add("x" + std::to_string(i), std::string(5000, 'a'));
    zip.Add("same.txt", "first");
    for (int i = 20; i < 40; ++i) zip.Add("x" + std::to_string(i), std::string(5000, 'b'));
    zip.Add("same.txt", "last");
    zip.Close();
  }
  ASSERT_TRUE(UnzipBy(2, destination())) << last().payload;
  EXPECT_EQ(Read("data/same.txt"), "last");

  {
    ZipBuilder zip(archive());
    zip.Add("a/b.txt", "inside a folder a");
    for (int i = 0; i < 20; ++i) zip.Add("x" + std::to_string(i), std::string(5000, 'c'));
    zip.Add("a", "a file a");
    zip.Close();
  }
  EXPECT_FALSE(UnzipBy(2, root() / "clash"));
  EXPECT_EQ(last().status, "fail");
  EXPECT_EQ(last().payload, "extract file fail: a");
}

TEST_F(ParallelUnzipTest, ADamagedEntryAmongManyEndsTheRunWithOneFailure) {
  {
    ZipBuilder zip(archive());
    for (int i = 0; i < 60; ++i) {
      if (i == 31) {
        zip.Add("damaged.bin", std::string(40000, 'q'), EntryOptions::Stored());
      } else {
        zip.Add("e" + std::to_string(i), std::string(20000, static_cast<char>('a' + i % 26)));
      }
    }
    zip.Close();
  }
  ASSERT_EQ(PatchBytes(archive(), std::string(40000, 'q'), std::string(39999, 'q') + "r"), 1);
  EXPECT_FALSE(UnzipBy(2, destination()));
  int failures = 0;
  long long lastDone = 0;
  for (const auto& call : calls()) {
    if (call.status == "fail") ++failures;
    if (call.status == "unzip") {
      EXPECT_EQ(call.done, ++lastDone);
    }
  }
  EXPECT_EQ(failures, 1);
  EXPECT_EQ(last().status, "fail");
  EXPECT_EQ(last().payload.substr(0, last().payload.find('\n')), "extract file fail: damaged.bin");
  EXPECT_LT(lastDone, 60);
  EXPECT_FALSE(fs::exists(destination() / "damaged.bin"));
}

}  // namespace

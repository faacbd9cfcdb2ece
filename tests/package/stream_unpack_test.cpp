// Unpacking while downloading: the archive is written through the download's own sink on one
// thread while the stream stages it on another; the install must be exactly what unpacking the
// finished archive gives, whether the stream carried it or fell back.
#include "package/stream_unpack.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <thread>

#include "net/body_sink.h"
#include "package/growing_archive.h"
#include "package/staging.h"
#include "package/stream_install.h"
#include "tests/package/unzip_sandbox.h"
#include "tests/package/zip_builder.h"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

const char* const kStreamed = "entries while downloading";
const char* const kFellBack = "unpacking after the download: ";

bool Shell(const fs::path& folder, const std::string& command) {
  return std::system(("cd '" + folder.string() + "' && " + command).c_str()) == 0;
}

// Every path below `folder` with its bytes and, for files, its permission bits.
std::map<std::string, std::string> Contents(const fs::path& folder) {
  std::map<std::string, std::string> contents;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string name = fs::relative(entry.path(), folder).generic_string();
    if (entry.is_directory()) {
      contents[name + "/"] = "";
      continue;
    }
    struct stat info {};
    stat(entry.path().c_str(), &info);
    const std::string bytes = ReadBytes(entry.path());
    contents[name] = std::to_string(info.st_mode & 0777) + " " + std::to_string(bytes.size()) + " bytes, hash " +
                     std::to_string(std::hash<std::string>()(bytes));
  }
  return contents;
}

std::string Noise(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (auto& byte : bytes) byte = static_cast<char>(random());
  return bytes;
}

std::string Text(int lines) {
  std::string text;
  for (int i = 0; i < lines; ++i) text += "line " + std::to_string(i) + " of the game's data\n";
  return text;
}

class StreamUnpackTest : public UnzipSandbox {
 protected:
  fs::path download() const { return root() / "download.zip"; }

  // The archive's bytes [from, to) written as the download writes them, in blocks of about
  // `block` bytes (varied when `varied`), after opening the partial file at `from`.
  void Feed(GrowingArchive& growing, std::uint64_t from, std::uint64_t to, std::size_t block, bool varied = false) {
    BodySink sink(download().string(), 0, nullptr, &growing);
    std::uint64_t allowed = 0;
    ASSERT_TRUE(sink.Open(from, allowed));
    ASSERT_EQ(allowed, from);
    std::mt19937 random(7);
    for (std::uint64_t at = from; at < to;) {
      const std::size_t step = std::min<std::uint64_t>(to - at, varied ? 1 + random() % block : block);
      ASSERT_TRUE(sink.Write(bytes_.data() + at, step));
      at += step;
    }
    ASSERT_TRUE(sink.Close());
  }

  // What unpacking the finished archive the plain way gives.
  std::map<std::string, std::string> Reference() {
    EXPECT_TRUE(UnzipInto((root() / "reference").string())) << last().payload;
    return Contents(root() / "reference");
  }

  UnzipTask Task() { return UnzipTask{download().string(), destination().string(), Recorder()}; }

  // Downloads the whole archive while the stream stages it, then installs; the text printed.
  std::string DownloadAndInstall(std::size_t block, bool varied = false) {
    bytes_ = ReadBytes(archive());
    std::map<std::string, std::string> staged;
    testing::internal::CaptureStdout();  // failures are told once it ends
    {
      StreamUnpack stream(download().string(), destination().string());
      std::thread writer([&] {
        Feed(*stream.Archive(), 0, bytes_.size(), block, varied);
        stream.Archive()->End(true);
      });
      writer.join();
      stream.Finish();
      staged = Contents(destination());
      installedOk_ = InstallStreamed(Task(), stream);
    }
    const std::string out = testing::internal::GetCapturedStdout();
    // Staged, not installed: the data folder held its old files and the staging folder only.
    for (const auto& [name, bytes] : staged) {
      if (name.starts_with(kStagingFolderName)) continue;
      EXPECT_EQ(installed_.count(name) ? installed_.at(name) : "(none)", bytes) << name;
    }
    return out;
  }

  void InstallSomethingFirst() {
    fs::create_directories(destination() / "saves");
    WriteBytes(destination() / "saves" / "slot1", "the player's save");
    WriteBytes(destination() / "kolv.exe", "the old game");
    installed_ = Contents(destination());
  }

  // Installed exactly what the plain way installs, over the player's own files, nothing staged left.
  void ExpectInstalledLike(const std::map<std::string, std::string>& reference, const std::string& out) {
    EXPECT_TRUE(installedOk_) << out;
    ASSERT_FALSE(calls().empty());
    EXPECT_EQ(last().status, "succ") << last().payload << out;
    auto expected = reference;
    for (const auto& [name, bytes] : installed_) expected.emplace(name, bytes);
    EXPECT_EQ(Contents(destination()), expected) << out;
    EXPECT_FALSE(fs::exists(StagingFolderOf(destination().string())));
  }

  void PythonZip(const std::string& target, const std::string& methods, bool zip64 = false) {
    const std::string script =
        "import sys, zipfile\n"
        "out = open('package.zip', 'wb') if '" +
        target +
        "' == 'file' else sys.stdout.buffer\n"
        "with zipfile.ZipFile(out, 'w') as z:\n"
        "  for i, (name, method) in enumerate(zip(['kolv.exe', 'data/x.pak', 'data/maps/e.map'], '" +
        methods +
        "')):\n"
        "    m = zipfile.ZIP_STORED if method == 's' else zipfile.ZIP_DEFLATED\n"
        "    data = open('noise', 'rb').read() if i == 0 else (b'map' * 30000 if i == 1 else b'')\n"
        "    info = zipfile.ZipInfo(name, (2020, 1, 1, 0, 0, 0))\n"
        "    info.compress_type = m\n"
        "    with z.open(info, 'w', force_zip64=" +
        std::string(zip64 ? "True" : "False") +
        ") as o:\n"
        "      o.write(data)\n";
    WriteBytes(root() / "write.py", script);
    WriteBytes(root() / "noise", Noise(120000, 3));
    ASSERT_TRUE(Shell(root(), target == "file" ? "python3 write.py" : "python3 write.py | cat > package.zip"));
  }

  std::string bytes_;
  std::map<std::string, std::string> installed_;
  bool installedOk_ = false;
};

TEST_F(StreamUnpackTest, ArchivesOfEveryWriterInstallWhileDownloadingAsThePlainUnpackingWould) {
  struct Case {
    const char* what;
    std::function<void()> write;
    std::size_t block;
    bool varied;
  };
  const std::vector<Case> cases = {
      {"minizip: deflated, stored, folders, modes, zip64 extra, a UTF-8 name",
       [this] {
         ZipBuilder zip(archive());
         zip.Add("kolv.exe", Noise(200000, 1), EntryOptions::Unix(0100750));
         zip.AddFolder("data/");
         zip.Add("data/x.pak", Text(9000));
         zip.Add("data/stored.bin", Noise(70000, 2), EntryOptions::Stored());
         zip.Add("data/big.pak", Text(4000), EntryOptions().WithZip64());
         zip.Add("data/\xe5\x9c\xb0\xe5\x9b\xbe.map", "map");
         zip.Add("empty", "");
         zip.AddFolder("logs/");
         zip.Add("saves/deflated-folder/", "");  // a folder entry holding an empty deflate stream
         zip.Close();
       },
       4093, false},
      {"minizip, blocks of 1 to 61 bytes",
       [this] {
         ZipBuilder zip(archive());
         zip.Add("kolv.exe", Noise(3000, 4));
         zip.Add("a/b/c.txt", Text(300));
         zip.Add("a/s.bin", "stored bytes", EntryOptions::Stored());
         zip.Close();
       },
       61, true},
      {"Python zipfile into a file", [this] { PythonZip("file", "dsd"); }, 16384, false},
      {"Python zipfile into a pipe: deflated entries with data descriptors", [this] { PythonZip("pipe", "ddd"); }, 8191,
       false},
      {"Python zipfile into a pipe, zip64: descriptors with 8-byte sizes", [this] { PythonZip("pipe", "ddd", true); },
       3000, true},
      {"Info-ZIP zip into a pipe",
       [this] {
         fs::create_directories(root() / "build" / "data");
         WriteBytes(root() / "build" / "kolv.exe", Noise(90000, 5));
         WriteBytes(root() / "build" / "data" / "x.pak", Text(5000));
         ASSERT_TRUE(Shell(root() / "build", "zip -q -r - . | cat > ../package.zip"));
       },
       10000, false},
      {"Info-ZIP zip -fz into a file: zip64 extra fields in every header",
       [this] {
         fs::create_directories(root() / "build" / "data");
         WriteBytes(root() / "build" / "kolv.exe", Noise(90000, 5));
         WriteBytes(root() / "build" / "data" / "x.pak", Text(5000));
         ASSERT_TRUE(Shell(root() / "build", "zip -q -r -fz ../package.zip ."));
       },
       10000, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(destination());
    fs::remove_all(root() / "reference");
    fs::remove(archive());
    c.write();
    InstallSomethingFirst();
    const auto reference = Reference();
    const std::string out = DownloadAndInstall(c.block, c.varied);
    EXPECT_THAT(out, HasSubstr(kStreamed));
    EXPECT_THAT(out, Not(HasSubstr(kFellBack)));
    ExpectInstalledLike(reference, out);
  }
}

TEST_F(StreamUnpackTest, ADownloadCutAnywhereAndResumedInstallsExactly) {
  ZipBuilder zip(archive());
  zip.Add("kolv.exe", Noise(40000, 6), EntryOptions::Unix(0100755));
  zip.Add("data/x.pak", Text(2000));
  zip.Add("data/s.bin", Noise(5000, 7), EntryOptions::Stored());
  zip.AddFolder("empty/");
  zip.Close();
  bytes_ = ReadBytes(archive());
  const auto reference = Reference();
  // Inside headers, names and data, at both ends, and in the central directory.
  std::vector<std::uint64_t> cuts = {1, 4, 29, 30, 31, 45, bytes_.size() - 22, bytes_.size() - 1};
  for (std::uint64_t at = 97; at < bytes_.size(); at += bytes_.size() / 23) cuts.push_back(at);
  for (const std::uint64_t cut : cuts) {
    SCOPED_TRACE("cut after " + std::to_string(cut) + " of " + std::to_string(bytes_.size()) + " bytes");
    fs::remove_all(destination());
    fs::remove(download());
    InstallSomethingFirst();
    testing::internal::CaptureStdout();  // failures are told once it ends
    bool firstComplete = true;
    std::map<std::string, std::string> afterFirst;
    {
      // The first download fails after `cut` bytes: what was staged goes, nothing is installed.
      StreamUnpack first(download().string(), destination().string());
      Feed(*first.Archive(), 0, cut, 1000);
      first.Archive()->End(false);
      firstComplete = first.Finish().complete;
      afterFirst = Contents(destination());
    }
    {
      // The next one goes on from the partial file: the stream reads the kept bytes first.
      StreamUnpack next(download().string(), destination().string());
      std::thread writer([&] {
        Feed(*next.Archive(), cut, bytes_.size(), 777);
        next.Archive()->End(true);
      });
      writer.join();
      installedOk_ = InstallStreamed(Task(), next);
    }
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(firstComplete);
    EXPECT_EQ(afterFirst, installed_) << out;
    EXPECT_THAT(out, HasSubstr(kStreamed));
    EXPECT_THAT(out, Not(HasSubstr(kFellBack)));
    ExpectInstalledLike(reference, out);
  }
}

TEST_F(StreamUnpackTest, WhatTheStreamCannotCarryFallsBackAndInstallsWhatTheCentralDirectorySays) {
  {
    SCOPED_TRACE("a local header naming another file than the central directory");
    ZipBuilder zip(archive());
    zip.Add("kolv.exe", Noise(20000, 8));
    zip.Add("data/keep.txt", Text(100));
    zip.Close();
    std::string bytes = ReadBytes(archive());
    bytes.replace(bytes.find("keep.txt"), 8, "evil.txt");  // the first is the local header's
    WriteBytes(archive(), bytes);
    InstallSomethingFirst();
    const auto reference = Reference();
    ASSERT_EQ(reference.count("data/keep.txt"), 1u);
    const std::string out = DownloadAndInstall(5000);
    EXPECT_THAT(out, HasSubstr(std::string(kFellBack) + "the central directory gives another name for data/evil.txt"));
    ExpectInstalledLike(reference, out);
  }
  fs::remove_all(destination());
  fs::remove_all(root() / "reference");
  {
    SCOPED_TRACE("Python zipfile into a pipe: a stored entry whose local header gives no sizes");
    PythonZip("pipe", "dsd");
    InstallSomethingFirst();
    const auto reference = Reference();
    const std::string out = DownloadAndInstall(5000);
    EXPECT_THAT(out, HasSubstr(std::string(kFellBack) + "a stored entry without sizes: data/x.pak"));
    ExpectInstalledLike(reference, out);
  }
  fs::remove_all(destination());
  fs::remove_all(root() / "reference");
  {
    SCOPED_TRACE("a name given twice: the last entry wins, as unpacking in order decides");
    ZipBuilder zip(archive());
    zip.Add("kolv.exe", "first");
    zip.Add("kolv.exe", "second");
    zip.Close();
    InstallSomethingFirst();
    const auto reference = Reference();
    const std::string out = DownloadAndInstall(5000);
    EXPECT_THAT(out, HasSubstr(std::string(kFellBack) + "a name given twice: kolv.exe"));
    ExpectInstalledLike(reference, out);
    EXPECT_EQ(Read("data/kolv.exe"), "second");
  }
}

TEST_F(StreamUnpackTest, BytesTheStreamReadAndTheDownloadTookBackFallBack) {
  ZipBuilder zip(archive());
  zip.Add("kolv.exe", Noise(60000, 9));
  zip.Add("data/x.pak", Text(3000));
  zip.Close();
  bytes_ = ReadBytes(archive());
  InstallSomethingFirst();
  const auto reference = Reference();
  testing::internal::CaptureStdout();
  {
    StreamUnpack stream(download().string(), destination().string());
    GrowingArchive& growing = *stream.Archive();
    std::thread writer([&] {
      BodySink sink(download().string(), 0, nullptr, &growing);
      std::uint64_t allowed = 0;
      ASSERT_TRUE(sink.Open(0, allowed));
      ASSERT_TRUE(sink.Write(bytes_.data(), 40000));
      // A server that answers the next range with the whole body: the file starts over once the
      // stream has taken some of those bytes (the cut waits until it let go of the file).
      ASSERT_TRUE(growing.WaitUntilGranted(1, std::chrono::seconds(20))) << "the stream never read the bytes";
      ASSERT_TRUE(sink.Restart(0));
      ASSERT_TRUE(sink.Write(bytes_.data(), bytes_.size()));
      ASSERT_TRUE(sink.Close());
      growing.End(true);
    });
    writer.join();
    EXPECT_TRUE(growing.Spoiled());
    installedOk_ = InstallStreamed(Task(), stream);
  }
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_THAT(out, HasSubstr(kFellBack));
  ExpectInstalledLike(reference, out);
}

TEST(GrowingArchiveTest, AWaitingReaderWakesWhenTheBytesComeTheDownloadEndsOrItIsCancelled) {
  GrowingArchive growing;
  std::thread waiting([&] { EXPECT_TRUE(growing.WaitFor(100)); });
  growing.SetAvailable(50);
  growing.SetAvailable(100);
  waiting.join();
  EXPECT_FALSE(growing.Spoiled());

  std::thread ended([&] { EXPECT_FALSE(growing.WaitFor(101)); });
  growing.End(false);
  ended.join();
  EXPECT_FALSE(growing.Complete());
  EXPECT_TRUE(growing.WaitFor(100)) << "bytes that are there stay readable after the end";

  GrowingArchive cancelled;
  std::thread reader([&] { EXPECT_EQ(cancelled.WaitPast(0), 0u); });
  cancelled.Cancel();
  reader.join();
  cancelled.SetAvailable(10);
  EXPECT_FALSE(cancelled.WaitFor(1)) << "a cancel is for good";

  GrowingArchive cut;
  cut.SetAvailable(64);
  EXPECT_TRUE(cut.WaitFor(10));
  cut.SetAvailable(63);  // the reader may have taken all 64
  EXPECT_TRUE(cut.Spoiled());
  EXPECT_FALSE(cut.WaitFor(1));
  cut.End(true);
  EXPECT_FALSE(cut.Complete());
}

}  // namespace

// Entries of archives written at test time by other writers (Python's zipfile, streamed so that
// every entry has a data descriptor and zip64 headers; Info-ZIP zip), read by range spans as the
// central directory gives them and installed one by one into a staging folder.
#include "package/entry_install.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "package/remote_zip.h"
#include "tests/support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ScratchDir;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Files of both archives: a deflated text, a stored binary (zip -n .bin), nested folders, an
// empty file and a non-ASCII name.
const char* const kWriter = R"PY(
import hashlib, io, os, random, sys, zipfile
root, mode = sys.argv[1], sys.argv[2]
random.seed(7)
files = {
  "kolv.exe": random.randbytes(70000),
  "data/text/readme.txt": b"the quick brown fox " * 5000,
  "data/blob.bin": random.randbytes(300000),
  "data/empty.txt": b"",
  "data/\u5730\u56fe.txt": "\u5730\u56fe".encode() * 900,
}
src = os.path.join(root, "src")
for name, data in files.items():
  os.makedirs(os.path.dirname(os.path.join(src, name)) or src, exist_ok=True)
  open(os.path.join(src, name), "wb").write(data)
os.chmod(os.path.join(src, "kolv.exe"), 0o755)
with open(os.path.join(root, "sums.txt"), "w", encoding="utf-8") as sums:
  for name, data in files.items():
    sums.write(hashlib.sha256(data).hexdigest() + " " + name + "\n")
archive = os.path.join(root, "package.zip")
if mode == "python":
  class Unseekable(io.RawIOBase):
    def __init__(self, f): self.f = f
    def writable(self): return True
    def write(self, b): return self.f.write(b)
  with open(archive, "wb") as out, zipfile.ZipFile(Unseekable(out), "w") as z:
    for name, data in files.items():
      info = zipfile.ZipInfo(name)
      info.compress_type = zipfile.ZIP_STORED if name.endswith(".bin") else zipfile.ZIP_DEFLATED
      info.external_attr = (0o755 if name == "kolv.exe" else 0o644) << 16
      with z.open(info, "w", force_zip64=True) as w:
        w.write(data)
else:
  os.chdir(src)
  if os.system("zip -q -r -n .bin -X ../package.zip kolv.exe data") != 0: sys.exit(1)
)PY";

class EntryInstallTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    std::ofstream(scratch_.File("writer.py")) << kWriter;
    const std::string command = "python3 '" + scratch_.File("writer.py") + "' '" + scratch_.Path().string() + "' " +
                                GetParam() + " > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    archive_ = scratch_.File("package.zip");
    const std::string bytes = ReadAll(archive_);
    const DirectoryLookup lookup = FindCentralDirectory(bytes, bytes.size());
    ASSERT_EQ(lookup.kind, DirectoryLookup::Kind::kFound);
    place_ = lookup.place;
    ASSERT_TRUE(ParseCentralDirectory(std::string_view(bytes).substr(place_.offset, place_.size), place_, entries_));
    std::istringstream sums(ReadAll(scratch_.Path() / "sums.txt"));
    for (std::string sum, name; sums >> sum && std::getline(sums >> std::ws, name);) sha256_[name] = sum;
    fs::create_directories(installed_);
    // The streamed writer gives every entry a data descriptor after its data.
    if (std::string(GetParam()) == "python") {
      for (const RemoteEntry& entry : entries_) ASSERT_NE(entry.flags & 8, 0) << entry.name;
    }
  }

  // The entry's span in the archive file, as a range fetched for it alone would hold it.
  EntrySpan SpanOf(std::size_t entry) const {
    std::vector<ByteRange> ranges;
    EXPECT_TRUE(JoinEntryRanges(entries_, {entry}, place_, ranges));
    return {archive_, ranges.at(0).first, ranges.at(0).last - ranges.at(0).first + 1};
  }

  std::size_t IndexOf(const std::string& name) const {
    for (std::size_t at = 0; at < entries_.size(); ++at) {
      if (entries_[at].name == name) return at;
    }
    ADD_FAILURE() << "no entry " << name;
    return 0;
  }

  std::string Install(const std::string& name, const EntrySpan& span) {
    const RemoteEntry& entry = entries_[IndexOf(name)];
    return InstallEntry(span, entry, name, sha256_[name], staging_, installed_);
  }

  ScratchDir scratch_{"entry-install"};
  std::string archive_;
  DirectoryPlace place_;
  std::vector<RemoteEntry> entries_;
  std::map<std::string, std::string> sha256_;
  std::string installed_ = scratch_.File("data");
  std::string staging_ = scratch_.File("data/.staging");
};

TEST_P(EntryInstallTest, EveryEntryInflatesToItsFileBytesAndTheGameStaysExecutable) {
  ASSERT_EQ(sha256_.size(), 5u);
  // The game is executable because its entry says so, whatever the installed file's mode.
  std::ofstream(installed_ + "/kolv.exe") << "old";
  fs::permissions(installed_ + "/kolv.exe", fs::perms(0600));
  for (const auto& [name, sum] : sha256_) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Install(name, SpanOf(IndexOf(name))), "");
    EXPECT_EQ(ReadAll(fs::path(staging_) / fs::u8path(name)), ReadAll(scratch_.Path() / "src" / fs::u8path(name)));
  }
  struct stat info {};
  ASSERT_EQ(::stat((staging_ + "/kolv.exe").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0755u);
  ASSERT_EQ(::stat((staging_ + "/data/blob.bin").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0111, 0u);
}

TEST_P(EntryInstallTest, BytesThatDoNotCheckLeaveNothingStaged) {
  const std::string name = "data/text/readme.txt";
  const std::size_t index = IndexOf(name);
  const EntrySpan span = SpanOf(index);
  const std::string staged = staging_ + "/data/text/readme.txt";

  // Another file's digest in the list.
  sha256_[name] = sha256_["kolv.exe"];
  EXPECT_NE(Install(name, span).find("SHA-256"), std::string::npos);
  EXPECT_FALSE(fs::exists(staged));
  sha256_[name].clear();

  // The fetched range cut before the data's end.
  EntrySpan cut = span;
  cut.span = 30 + name.size() + entries_[index].compressedSize / 2;
  EXPECT_NE(Install(name, cut).find("past the fetched bytes"), std::string::npos);

  // The range of another entry: its local header names that one.
  EXPECT_NE(Install(name, SpanOf(IndexOf("data/blob.bin"))).find("names another entry"), std::string::npos);

  // Damaged data: a byte of the deflated stream flipped.
  std::string bytes = ReadAll(archive_);
  const auto at = [&bytes](std::uint64_t offset) { return static_cast<unsigned char>(bytes[offset]); };
  const std::uint64_t data = span.offset + 30 + name.size() + (at(span.offset + 28) | at(span.offset + 29) << 8);
  bytes[data + entries_[index].compressedSize / 2] ^= 0x5a;
  const std::string damaged = scratch_.File("damaged.zip");
  std::ofstream(damaged, std::ios::binary) << bytes;
  EXPECT_NE(Install(name, {damaged, span.offset, span.span}), "");
  EXPECT_FALSE(fs::exists(staged));
}

TEST_P(EntryInstallTest, NamesOutsideTheStagingFolderAndLinksInTheWayAreNotFollowed) {
  RemoteEntry entry = entries_[IndexOf("kolv.exe")];
  const EntrySpan span = SpanOf(IndexOf("kolv.exe"));
  for (const std::string name : {"../kolv.exe", "/kolv.exe", ".staging/kolv.exe", "data/"}) {
    SCOPED_TRACE(name);
    entry.name = "kolv.exe";
    EXPECT_NE(InstallEntry(span, entry, name, sha256_["kolv.exe"], staging_, installed_).find("refused name"),
              std::string::npos);
  }
  EXPECT_FALSE(fs::exists(scratch_.File("kolv.exe")));

  // A link planted where the file goes is replaced, the file it points to untouched.
  fs::create_directories(staging_);
  std::ofstream(scratch_.File("outside.txt")) << "keep";
  fs::create_symlink(scratch_.File("outside.txt"), staging_ + "/kolv.exe");
  EXPECT_EQ(Install("kolv.exe", span), "");
  EXPECT_FALSE(fs::is_symlink(staging_ + "/kolv.exe"));
  EXPECT_EQ(ReadAll(scratch_.File("outside.txt")), "keep");
}

INSTANTIATE_TEST_SUITE_P(Writers, EntryInstallTest, ::testing::Values("python", "infozip"));

}  // namespace

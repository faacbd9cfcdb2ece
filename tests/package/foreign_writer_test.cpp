// Archives written at test time by other zip writers (Info-ZIP zip, Python's zipfile): each
// installs exactly what Info-ZIP unzip extracts from it, or is refused before anything is
// written, with the reason naming the entry.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <vector>

#include "tests/package/unzip_sandbox.h"
#include "tests/package/zip_builder.h"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// Runs a shell command in `folder`; true when it exits with 0 (or with one of `alsoFine`).
bool Shell(const fs::path& folder, const std::string& command, std::initializer_list<int> alsoFine = {}) {
  const std::string line = "cd '" + folder.string() + "' && " + command;
  const int status = std::system(line.c_str());
  if (status == -1 || !WIFEXITED(status)) return false;
  const int code = WEXITSTATUS(status);
  if (code == 0) return true;
  for (const int fine : alsoFine) {
    if (code == fine) return true;
  }
  return false;
}

// Every file and folder below `folder`, relative, with its bytes ("" for folders, marked "/").
std::map<std::string, std::string> Contents(const fs::path& folder) {
  std::map<std::string, std::string> contents;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string name = fs::relative(entry.path(), folder).generic_string();
    contents[entry.is_directory() ? name + "/" : name] = entry.is_directory() ? "" : ReadBytes(entry.path());
  }
  return contents;
}

// The names whose bytes differ between two trees, or that only one of them has.
std::vector<std::string> Differences(const std::map<std::string, std::string>& left,
                                     const std::map<std::string, std::string>& right) {
  std::vector<std::string> names;
  for (const auto& [name, bytes] : left) {
    const auto other = right.find(name);
    if (other == right.end() || other->second != bytes) names.push_back(name);
  }
  for (const auto& [name, bytes] : right) {
    if (left.count(name) == 0) names.push_back(name);
  }
  return names;
}

class ForeignWriterTest : public UnzipSandbox {
 protected:
  void SetUp() override {
    UnzipSandbox::SetUp();
    // A small game build: incompressible and compressible data, an empty file, nested folders.
    std::mt19937 random(13);
    std::string noise(150000, '\0');
    for (auto& byte : noise) byte = static_cast<char>(random());
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + "\n";
    fs::create_directories(build() / "data" / "maps");
    WriteBytes(build() / "kolv.exe", noise);
    WriteBytes(build() / "data" / "x.pak", text);
    WriteBytes(build() / "data" / "maps" / "empty.map", "");
  }

  fs::path build() const { return root() / "build"; }

  // Python's zipfile writing the build's files with `method` (data/x.pak with `pakMethod` when
  // one is given), each opened with `force_zip64`.
  bool PythonZip(const std::string& method, bool forceZip64, const std::string& pakMethod = "") const {
    const std::string script =
        "import os, zipfile\n"
        "with zipfile.ZipFile('../package.zip', 'w', zipfile." +
        method +
        ") as z:\n"
        "  for top, dirs, files in sorted(os.walk('.')):\n"
        "    for f in sorted(files):\n"
        "      p = os.path.join(top, f)[2:]\n"
        "      info = zipfile.ZipInfo.from_file(p, p)\n"
        "      info.compress_type = zipfile." +
        (pakMethod.empty() ? method : pakMethod) + " if p == 'data/x.pak' else zipfile." + method +
        "\n"
        "      with open(p, 'rb') as i, z.open(info, 'w', force_zip64=" +
        (forceZip64 ? "True" : "False") +
        ") as o:\n"
        "        o.write(i.read())\n";
    WriteBytes(root() / "write.py", script);
    return Shell(build(), "python3 ../write.py");
  }

  // The archive must install what Info-ZIP unzip extracts, byte for byte, entry for entry.
  void ExpectInstallsLikeUnzip() {
    ASSERT_TRUE(Shell(root(), "unzip -qq -o package.zip -d reference 2>/dev/null", {1}));  // 1: warnings only
    const auto reference = Contents(root() / "reference");
    ASSERT_EQ(reference.count("kolv.exe"), 1u);
    testing::internal::CaptureStdout();
    const bool installed = Unzip();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(installed) << out;
    EXPECT_EQ(last().status, "succ") << out;
    EXPECT_THAT(Differences(Contents(destination()), reference), IsEmpty()) << out;
    EXPECT_THAT(Differences(reference, Contents(build())), IsEmpty());
  }

  // The run must fail with `reason` before it writes anything into the data folder.
  void ExpectRefusedBeforeAnyWrite(const std::string& reason) {
    fs::create_directories(destination());
    WriteBytes(destination() / "kolv.exe", "the installed game");
    const auto before = Contents(destination());
    testing::internal::CaptureStdout();
    EXPECT_FALSE(Unzip());
    EXPECT_THAT(testing::internal::GetCapturedStdout(), HasSubstr(reason + "\n"));
    ASSERT_FALSE(calls().empty());
    EXPECT_EQ(last().status, "fail");
    EXPECT_EQ(last().payload, reason);
    EXPECT_EQ(calls().size(), 1u) << "no entry may be reported before the refusal";
    EXPECT_THAT(Differences(Contents(destination()), before), IsEmpty());
  }
};

TEST_F(ForeignWriterTest, InfoZipArchivesInstallLikeUnzip) {
  {
    SCOPED_TRACE("zip -fz: zip64 extra fields in every header and a zip64 end record");
    ASSERT_TRUE(Shell(build(), "zip -q -r -fz ../package.zip ."));
    ExpectInstallsLikeUnzip();
  }
  fs::remove_all(root() / "reference");
  fs::remove_all(destination());
  fs::remove(archive());
  {
    SCOPED_TRACE("zip - into a pipe: sizes and checksums in data descriptors after the data");
    ASSERT_TRUE(Shell(build(), "zip -q -r - . | cat > ../package.zip"));
    ASSERT_NE(ReadBytes(archive()).find(std::string("PK\x07\x08", 4)), std::string::npos);
    ExpectInstallsLikeUnzip();
  }
}

TEST_F(ForeignWriterTest, PythonZipfileArchivesInstallLikeUnzip) {
  for (const auto& [method, zip64] :
       {std::pair{"ZIP_DEFLATED", true}, std::pair{"ZIP_STORED", true}, std::pair{"ZIP_STORED", false}}) {
    SCOPED_TRACE(std::string(method) + (zip64 ? " with forced zip64" : ""));
    fs::remove_all(root() / "reference");
    fs::remove_all(destination());
    fs::remove(archive());
    ASSERT_TRUE(PythonZip(method, zip64));
    ExpectInstallsLikeUnzip();
  }
}

TEST_F(ForeignWriterTest, PrefixedAndTrailingBytesInstallLikeUnzip) {
  ASSERT_TRUE(Shell(build(), "zip -q -r ../plain.zip . && zip -q -r -fz ../zip64.zip ."));
  const std::string prefix(70000, 'M');  // a self-extractor's program in front of the archive
  for (const char* source : {"plain.zip", "zip64.zip"}) {
    for (const bool prefixed : {true, false}) {
      SCOPED_TRACE(std::string(source) + (prefixed ? " behind prefixed bytes" : " with trailing bytes"));
      fs::remove_all(root() / "reference");
      fs::remove_all(destination());
      const std::string bytes = ReadBytes(root() / source);
      WriteBytes(archive(), prefixed ? prefix + bytes : bytes + std::string(300, '\0'));
      ExpectInstallsLikeUnzip();
    }
  }
}

TEST_F(ForeignWriterTest, EntriesThatCannotBeReadAreRefusedBeforeAnyWrite) {
  for (const auto& [method, reason] : {std::pair{"ZIP_BZIP2", "unsupported compression method 12 (bzip2): data/x.pak"},
                                       std::pair{"ZIP_LZMA", "unsupported compression method 14 (lzma): data/x.pak"}}) {
    SCOPED_TRACE(method);
    fs::remove_all(destination());
    fs::remove(archive());
    ASSERT_TRUE(PythonZip("ZIP_DEFLATED", false, method));
    ExpectRefusedBeforeAnyWrite(reason);
  }
  fs::remove_all(destination());
  fs::remove(archive());
  ASSERT_TRUE(Shell(build(), "zip -q -r ../package.zip kolv.exe && zip -q -P secret ../package.zip data/x.pak"));
  ExpectRefusedBeforeAnyWrite("encrypted entry: data/x.pak");
}

// Rewrites the method of the entry `name` in its local and its central header; sizes stay.
void SetMethod(const fs::path& archive, const std::string& name, char method) {
  std::string bytes = ReadBytes(archive);
  int changed = 0;
  for (const std::string& signature : {std::string("PK\x03\x04", 4), std::string("PK\x01\x02", 4)}) {
    const bool local = signature[2] == '\x03';
    const std::size_t methodAt = local ? 8 : 10;
    const std::size_t nameAt = local ? 30 : 46;
    for (auto at = bytes.find(signature); at != std::string::npos; at = bytes.find(signature, at + 4)) {
      if (bytes.compare(at + nameAt, name.size(), name) != 0) continue;
      bytes[at + methodAt] = method;
      ++changed;
    }
  }
  ASSERT_EQ(changed, 2);
  WriteBytes(archive, bytes);
}

// The case that once installed garbage: a bzip2 entry whose compressed size equals its size.
TEST_F(ForeignWriterTest, UnsupportedMethodWithEqualSizesIsRefused) {
  for (const auto& [method, reason] : {std::pair{'\x0c', "unsupported compression method 12 (bzip2): data/x.pak"},
                                       std::pair{'\x63', "unsupported compression method 99: data/x.pak"}}) {
    SCOPED_TRACE(reason);
    fs::remove_all(destination());
    ZipBuilder zip(archive());
    zip.Add("kolv.exe", "runs", EntryOptions::Stored());
    zip.Add("data/x.pak", "0123456789abcdef", EntryOptions::Stored());
    zip.Close();
    SetMethod(archive(), "data/x.pak", method);
    ExpectRefusedBeforeAnyWrite(reason);
  }
}

TEST_F(ForeignWriterTest, NameLongerThanTheSystemHoldsIsRefusedBeforeAnyWrite) {
  const std::string name = "data/" + std::string(256, 'n') + ".pak";
  ZipBuilder zip(archive());
  zip.Add("kolv.exe", "runs");
  zip.Add(name, "never written");
  zip.Close();
  ExpectRefusedBeforeAnyWrite("name this system cannot hold: " + name);
}

}  // namespace

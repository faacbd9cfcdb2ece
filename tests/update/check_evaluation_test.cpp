// The file information against the disk: the record, the archive and the installed files.
#include <gtest/gtest.h>

#include <cctype>

#include "app/settings.h"
#include "app/status_words.h"
#include "app/texts.h"
#include "check_fixture.h"
#include "package/file_util.h"
#include "update/file_level_update.h"

namespace updatetest {
namespace {

const std::string kArchive = settings::channelId + "/res_1_0_3.zip";

class EvaluationTest : public CheckTest {
 protected:
  EvaluationTest() {
    WriteFile("complete.bin", std::string(5000, 'z'));
    digest_ = FileUtil::Md5("complete.bin");
    std::filesystem::remove("complete.bin");
  }

  // File information for a 5000-byte archive of `digest_` installing two files.
  std::string Info(const std::string& digest = "") const {
    return R"({"zipName":")" + kArchive + R"(","zipMd5":")" + (digest.empty() ? digest_ : digest) +
           R"(","zipBytes":5000,"fileNameList":["kolv.exe","data/a.pak",7]})";
  }
  static void InstallFiles() {
    WriteFile(settings::dataFolder + "/kolv.exe", "exe");
    WriteFile(settings::dataFolder + "/data/a.pak", "pak");
  }
  static void WriteArchive(std::size_t bytes, char fill = 'z') { WriteFile(kArchive, std::string(bytes, fill)); }

  std::string digest_;
};

void ExpectNeedUpdate(const Row& row, std::int64_t offset, const std::string& digest) {
  EXPECT_EQ(status::kNeedUpdate, row.status);
  EXPECT_EQ(kArchive, row.first);
  EXPECT_EQ(digest, row.second);
  EXPECT_EQ(5000, row.size);
  EXPECT_EQ(offset, row.offset);
}

TEST_F(EvaluationTest, InstalledPackageNeedsNoUpdate) {
  ASSERT_EQ(32u, digest_.size());
  SetRecord(kArchive, digest_);
  InstallFiles();
  auto check = MakeCheck();
  const Row row = EvaluateNow(*check, Info());
  EXPECT_EQ(status::kNotNeedUpdate, row.status);
  EXPECT_EQ("", row.first);
  EXPECT_EQ("", row.second);
  EXPECT_EQ(0, row.size);
  EXPECT_EQ(0, row.offset);
  EXPECT_EQ(kArchive, check->ZipName());
  // Whatever a leftover archive holds, as long as it is not larger than expected.
  WriteArchive(4999, 'q');
  EXPECT_EQ(status::kNotNeedUpdate, EvaluateNow(*check, Info()).status);
  WriteArchive(5000, 'q');
  EXPECT_EQ(status::kNotNeedUpdate, EvaluateNow(*check, Info()).status);
  WriteArchive(5001);
  ExpectNeedUpdate(EvaluateNow(*check, Info()), 0, digest_);
  EXPECT_FALSE(Check::IsInstalled(kArchive, digest_, 5000));
}

// A sparse archive past 4 GiB: its size and the expected one compare in full, where their low
// 32 bits alone (1000 of a 4 GiB + 1000 file) would count an oversized archive as installed and
// resume a 6 GiB download from 1000 bytes.
TEST_F(EvaluationTest, ArchiveSizesPast4GiBCompareInFull) {
  constexpr std::int64_t k4GiB = std::int64_t{4} << 30;
  SetRecord(kArchive, digest_);
  InstallFiles();
  WriteArchive(0);
  std::filesystem::resize_file(kArchive, static_cast<std::uintmax_t>(k4GiB + 1000));
  auto check = MakeCheck();

  EXPECT_FALSE(Check::IsInstalled(kArchive, digest_, 5000));
  EXPECT_EQ(0, check->ResumeOffset(kArchive, digest_, 5000));
  ExpectNeedUpdate(EvaluateNow(*check, Info()), 0, digest_);

  const std::int64_t sixGiB = 6 * (std::int64_t{1} << 30);
  const std::string large = R"({"zipName":")" + kArchive + R"(","zipMd5":")" + digest_ + R"(","zipBytes":)" +
                            std::to_string(sixGiB) + R"(,"fileNameList":["kolv.exe"]})";
  EXPECT_TRUE(Check::IsInstalled(kArchive, digest_, sixGiB));
  EXPECT_EQ(k4GiB + 1000, check->ResumeOffset(kArchive, digest_, sixGiB));
  std::filesystem::remove(settings::dataFolder + "/kolv.exe");
  const Row row = EvaluateNow(*check, large);
  EXPECT_EQ(status::kNeedUpdate, row.status);
  EXPECT_EQ(sixGiB, row.size);
  EXPECT_EQ(k4GiB + 1000, row.offset);
}

TEST_F(EvaluationTest, MissingInstalledFileNeedsTheArchive) {
  SetRecord(kArchive, digest_);
  WriteFile(settings::dataFolder + "/kolv.exe", "exe");
  auto check = MakeCheck();
  ExpectNeedUpdate(EvaluateNow(*check, Info()), 0, digest_);
  WriteArchive(1000);
  ExpectNeedUpdate(EvaluateNow(*check, Info()), 1000, digest_);
  WriteArchive(5000);
  ExpectNeedUpdate(EvaluateNow(*check, Info()), 5000, digest_);  // complete: verify, no download
  WriteArchive(5000, 'q');
  ExpectNeedUpdate(EvaluateNow(*check, Info()), 0, digest_);  // complete but wrong digest
}

TEST_F(EvaluationTest, ArchiveOfAnotherPackageIsNotResumed) {
  SetRecord("res_1_0_2.zip", "0123456789abcdef0123456789abcdef");
  WriteArchive(5000);
  auto check = MakeCheck();
  ExpectNeedUpdate(EvaluateNow(*check, Info()), 0, digest_);
  WriteArchive(1000);
  ExpectNeedUpdate(EvaluateNow(*check, Info()), 0, digest_);
  // An upper-case digest is the same digest: the complete archive of this package is kept.
  std::string upper = digest_;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  SetRecord(kArchive, upper);
  WriteArchive(5000);
  ExpectNeedUpdate(EvaluateNow(*check, Info(upper)), 5000, digest_);
}

TEST_F(EvaluationTest, RecordMustNameArchiveAndDigest) {
  InstallFiles();
  EXPECT_FALSE(Check::IsInstalled(kArchive, digest_, 5000));
  SetRecord(kArchive, "");
  EXPECT_FALSE(Check::IsInstalled(kArchive, digest_, 5000));
  SetRecord("", digest_);
  EXPECT_FALSE(Check::IsInstalled(kArchive, digest_, 5000));
  SetRecord("", "");
  EXPECT_FALSE(Check::IsInstalled("", "", 5000));  // empty names never count as installed
  SetRecord(kArchive, digest_);
  EXPECT_TRUE(Check::IsInstalled(kArchive, digest_, 5000));
}

TEST_F(EvaluationTest, UnfinishedExtractionIsNotInstalled) {
  SetRecord(kArchive, digest_, "1");
  InstallFiles();
  WriteArchive(5000);
  auto check = MakeCheck();
  EXPECT_FALSE(Check::IsInstalled(kArchive, digest_, 5000));
  // The complete archive is verified and unpacked again.
  ExpectNeedUpdate(EvaluateNow(*check, Info()), 5000, digest_);
  SetRecord(kArchive, digest_, "");
  EXPECT_EQ(status::kNotNeedUpdate, EvaluateNow(*check, Info()).status);
}

// After an install cut short the tree matches no list, but the files of the release it replaced
// may still lie there: that release's cached list, and only one that names its archive, gives
// the files to remove after the whole archive of the new one.
TEST_F(EvaluationTest, UnfinishedInstallGivesTheReplacedReleasesListForItsDroppedFiles) {
  const std::string oldArchive = settings::channelId + "/res_1_0_2.zip";
  const auto listed = [](const std::string& path) {
    return R"({"path":")" + path + R"(","size":3,"sha256":")" + std::string(64, 'a') + R"(","crc32":1})";
  };
  const auto document = [&](const std::string& archive, const std::string& unique) {
    return R"({"zipName":")" + archive + R"(","zipMd5":")" + digest_ + R"(","zipBytes":5000,"fileNameList":[],)" +
           R"("files":[)" + listed("kolv.exe") + "," + listed(unique) + "]}";
  };
  const std::string oldInfo = document(oldArchive, "data/gone.pak");
  const std::string newInfo = document(kArchive, "data/new.pak");
  WriteFile(settings::dataFolder + "/fileInfo_1_0_2.json", oldInfo);
  WriteFile(settings::dataFolder + "/data/gone.pak", "old");
  auto check = MakeCheck();
  auto recorder = std::make_shared<Recorder>();
  check->OnFileInfo(RecordInto(recorder), status::kSucc, newInfo);
  ASSERT_TRUE(recorder->WaitFor(1, std::chrono::seconds(5)));

  SetRecord(kArchive, digest_, kArchive, oldArchive);
  FileLists lists = check->FileListsForUpdate();
  EXPECT_EQ(lists.unusable, "an earlier install did not finish");
  EXPECT_EQ(lists.newText, newInfo);
  EXPECT_EQ(lists.oldText, oldInfo);
  EXPECT_EQ(DroppedFilesOf(lists, settings::dataFolder), std::vector<std::string>{"data/gone.pak"});

  // A record of an earlier launcher names no replaced release: nothing is removed.
  SetRecord(kArchive, digest_, kArchive, "");
  lists = check->FileListsForUpdate();
  EXPECT_FALSE(lists.unusable.empty());
  EXPECT_EQ(lists.oldText, "");
  EXPECT_TRUE(DroppedFilesOf(lists, settings::dataFolder).empty());

  // A cache of that version that names another archive is not the replaced release's list.
  WriteFile(settings::dataFolder + "/fileInfo_1_0_2.json", document(settings::channelId + "/res_9_9_9.zip", "x"));
  SetRecord(kArchive, digest_, kArchive, oldArchive);
  lists = check->FileListsForUpdate();
  EXPECT_EQ(lists.oldText, "");
  EXPECT_TRUE(DroppedFilesOf(lists, settings::dataFolder).empty());

  // Finished installs read the installed release's list as before.
  WriteFile(settings::dataFolder + "/fileInfo_1_0_2.json", oldInfo);
  SetRecord(oldArchive, digest_, "", "");
  lists = check->FileListsForUpdate();
  EXPECT_EQ(lists.unusable, "");
  EXPECT_EQ(lists.oldText, oldInfo);
  EXPECT_EQ(DroppedFilesOf(lists, settings::dataFolder), std::vector<std::string>{"data/gone.pak"});
}

TEST_F(EvaluationTest, DefaultsOfTheFileInformation) {
  const FileInfo info = Check::ParseFileInfo(R"({"fileNameList":"notAList"})");
  EXPECT_EQ("", info.zipName);
  EXPECT_EQ("", info.zipMd5);
  EXPECT_EQ(104857600, info.zipBytes);
  EXPECT_TRUE(info.fileNameList.empty());
  EXPECT_TRUE(Check::AllFilesPresent({}));

  auto check = MakeCheck();
  const Row row = EvaluateNow(*check, R"({"zipName":")" + kArchive + R"(","zipMd5":")" + digest_ + R"(","extra":[1]})");
  EXPECT_EQ(status::kNeedUpdate, row.status);
  EXPECT_EQ(104857600, row.size);
  EXPECT_EQ(0, row.offset);

  const FileInfo big = Check::ParseFileInfo(R"({"zipBytes":6442450944,"fileNameList":["a",null,"b"]})");
  EXPECT_EQ(6442450944LL, big.zipBytes);  // sizes are full 64-bit
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), big.fileNameList);
}

TEST_F(EvaluationTest, ListedFoldersCountAsPresent) {
  std::filesystem::create_directories(settings::dataFolder + "/maps");
  EXPECT_TRUE(Check::AllFilesPresent({"maps"}));
  EXPECT_FALSE(Check::AllFilesPresent({"maps", "missing.pak"}));
}

TEST_F(EvaluationTest, MalformedFileInformationGivesTheErrorRow) {
  const std::string head = texts::kCheckFileError;
  struct Case {
    std::string text;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"", "JsonUtil::ToObject Error"},
      {"[]", "JsonUtil::ToObject Error"},
      {R"({"zipName":"res_1_0_3.zip",)", "JsonUtil::ToObject Error"},
      {R"({"zipName":"res_1_0_3.zip","zipBytes":-1})", "\"zipBytes\""},
      {R"({"zipName":"res_1_0_3.zip","zipBytes":5000.5})", "\"zipBytes\""},
      {R"({"zipName":"res_1_0_3.zip","zipBytes":5000.0})", "\"zipBytes\""},
      {R"({"zipName":"res_1_0_3.zip","zipBytes":"5000"})", "\"zipBytes\""},
      {R"({"zipName":"res_1_0_3.zip","zipBytes":18446744073709551615})", "\"zipBytes\""},
      {R"({"zipName":7})", "\"zipName\""},
      {R"({"zipName":"res_1_0_3.zip","zipMd5":null})", "\"zipMd5\""},
  };
  auto check = MakeCheck();
  for (const Case& one : cases) {
    const Row row = EvaluateNow(*check, one.text);
    EXPECT_EQ("error", row.status) << one.text;
    EXPECT_EQ(0u, row.first.rfind(head, 0)) << one.text;
    EXPECT_NE(std::string::npos, row.first.find(one.message)) << row.first;
    EXPECT_EQ("", row.second);
    EXPECT_EQ(0, row.size);
    EXPECT_EQ(0, row.offset);
  }
  EXPECT_EQ(head + "JsonUtil::ToObject Error", EvaluateNow(*check, "[]").first);
}

TEST_F(EvaluationTest, ArchiveNamesOutsideTheWorkingFolderAreRefused) {
  // A file the hostile name points at, with the right size: nothing may treat it as the archive.
  const std::filesystem::path outside = MakeScratchFolder("outside") / "res_1_0_3.zip";
  WriteFile(outside, std::string(5000, 'z'));
  SetRecord(outside.string(), digest_);
  auto check = MakeCheck();
  for (const std::string& name :
       {outside.string(), std::string("../res_1_0_3.zip"), std::string("MorvanePC1/../../res_1_0_3.zip"),
        std::string("C:\\res_1_0_3.zip"), std::string("..\\res_1_0_3.zip")}) {
    std::string escaped;
    for (char c : name) {
      if (c == '\\') escaped += '\\';
      escaped += c;
    }
    const Row row =
        EvaluateNow(*check, R"({"zipName":")" + escaped + R"(","zipMd5":")" + digest_ + R"(","zipBytes":5000})");
    EXPECT_EQ("error", row.status) << name;
    EXPECT_NE(std::string::npos, row.first.find("refused archive name " + name)) << row.first;
  }
  EXPECT_TRUE(std::filesystem::exists(outside));
  std::filesystem::remove_all(outside.parent_path());
  // A path inside the working folder stays valid.
  SetRecord(settings::channelId + "/res_1_0_3.zip", digest_);
  const Row inside = EvaluateNow(*check, R"({"zipName":")" + settings::channelId + R"(/res_1_0_3.zip","zipMd5":")" +
                                             digest_ + R"(","zipBytes":5000})");
  EXPECT_EQ(status::kNotNeedUpdate, inside.status);
}

// Every listed path is looked up below the data folder; one that leaves it is refused before any
// lookup, even when what it names exists (as here) and would otherwise count as installed.
TEST_F(EvaluationTest, FileListsReachingOutsideTheDataFolderAreMalformed) {
  const std::filesystem::path outside = MakeScratchFolder("outside-list") / "probe.txt";
  WriteFile(outside, "exists");
  SetRecord(kArchive, digest_);
  InstallFiles();
  auto check = MakeCheck();
  for (const std::string& entry :
       {std::string("../") + settings::channelId, std::string("kolv.exe/../../x"), std::string("data/..\\..\\x"),
        outside.string(), std::string("\\\\server\\share"), std::string("C:\\Windows"), std::string("c:x")}) {
    std::string escaped;
    for (char c : entry) {
      if (c == '\\') escaped += '\\';
      escaped += c;
    }
    const Row row = EvaluateNow(*check, R"({"zipName":")" + kArchive + R"(","zipMd5":")" + digest_ +
                                            R"(","zipBytes":5000,"fileNameList":["kolv.exe",")" + escaped + R"("]})");
    EXPECT_EQ(status::kError, row.status) << entry;
    EXPECT_NE(std::string::npos, row.first.find("malformed \"fileNameList\" entry " + entry)) << row.first;
  }
  // Names that only look odd stay inside and are fine.
  WriteFile(settings::dataFolder + "/a..b/c.txt", "x");
  const Row fine =
      EvaluateNow(*check, R"({"zipName":")" + kArchive + R"(","zipMd5":")" + digest_ +
                              R"(","zipBytes":5000,"fileNameList":["kolv.exe","a..b/c.txt","./data/a.pak"]})");
  EXPECT_EQ(status::kNotNeedUpdate, fine.status) << fine.first;
  std::filesystem::remove_all(outside.parent_path());
}

TEST_F(EvaluationTest, DigestsCountWhateverTheirCaseAndSurroundingBlanks) {
  std::string upper = digest_;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  WriteArchive(5000);
  SetRecord(kArchive, upper);  // as an earlier launcher kept the server's spelling
  auto check = MakeCheck();
  // The complete archive on disk is taken as it is: no download from 0.
  ExpectNeedUpdate(EvaluateNow(*check, Info(" " + upper + "\\r\\n")), 5000, digest_);
  InstallFiles();
  EXPECT_EQ(status::kNotNeedUpdate, EvaluateNow(*check, Info(upper)).status);
  EXPECT_EQ(status::kNotNeedUpdate, EvaluateNow(*check, Info("\\t" + digest_)).status);

  for (const std::string& bad : {std::string(" "), std::string("abc"), digest_.substr(1), digest_ + "0",
                                 std::string(32, 'g'), digest_.substr(0, 16) + " " + digest_.substr(17)}) {
    const Row row = EvaluateNow(*check, R"({"zipName":")" + kArchive + R"(","zipMd5":")" + bad + R"("})");
    EXPECT_EQ(status::kError, row.status) << bad;
    EXPECT_NE(std::string::npos, row.first.find("malformed \"zipMd5\"")) << row.first;
  }
}

TEST_F(EvaluationTest, ForgettingFileInformationDropsOnlyThatVersionsCache) {
  WriteFile(settings::dataFolder + "/fileInfo_1_0_3.json", "{}");
  WriteFile(settings::dataFolder + "/fileInfo_1_0_2.json", "{}");
  auto check = MakeCheck();
  check->ForgetFileInfo(kArchive);
  EXPECT_FALSE(std::filesystem::exists(settings::dataFolder + "/fileInfo_1_0_3.json"));
  EXPECT_TRUE(std::filesystem::exists(settings::dataFolder + "/fileInfo_1_0_2.json"));
  check->ForgetFileInfo(settings::channelId + "/unversioned.zip");  // no version: nothing to drop
  EXPECT_TRUE(std::filesystem::exists(settings::dataFolder + "/fileInfo_1_0_2.json"));
}

}  // namespace
}  // namespace updatetest

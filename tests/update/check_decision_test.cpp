// Which file information applies: the server's for "lastVersion", or the cached one of the
// installed version.
#include <gtest/gtest.h>

#include <ctime>

#include "app/settings.h"
#include "app/status_words.h"
#include "app/texts.h"
#include "check_fixture.h"
#include "update/json_util.h"

namespace updatetest {
namespace {

const std::int64_t kCacheWrittenAt = 1700000000;  // seconds since 1970
const std::uint64_t kNineDaysLater = static_cast<std::uint64_t>(kCacheWrittenAt) * 1000 + 9ull * 86400000;
// Functions, not globals: the settings are initialised in another translation unit.
std::string CachePath() { return settings::dataFolder + "/fileInfo_1_0_3.json"; }
std::string Remote1_2_0() { return settings::channelId + "/fileInfo_1_2_0.json"; }

std::string Config(const std::string& lastVersion, const std::string& unsupported) {
  return R"({"lastVersion":")" + lastVersion + R"(","unsupportedVersions":)" + unsupported + "}";
}

class DecisionTest : public CheckTest {
 protected:
  void WriteCache(const std::string& text, std::int64_t modifiedAt = kCacheWrittenAt) {
    WriteFile(CachePath(), text);
    SetModificationTime(CachePath(), modifiedAt);
  }
  FileInfoSource Decide(const std::string& config, std::uint64_t nowMs = kNineDaysLater) {
    return MakeCheck({}, nowMs)->DecideFileInfoSource(config);
  }
};

TEST_F(DecisionTest, RemotePathFollowsLastVersion) {
  const FileInfoSource source = Decide(R"({"lastVersion":"1.10.2"})");
  EXPECT_EQ(status::kRemoteFileInfo, source.kind);
  EXPECT_EQ(settings::channelId + "/fileInfo_1_10_2.json", source.path);
  EXPECT_EQ(settings::channelId + "/fileInfo_.json", Decide(R"({"other":"1.0.0"})").path);
  EXPECT_EQ(settings::channelId + "/fileInfo_.json", Decide(R"({"lastVersion":5})").path);
}

TEST_F(DecisionTest, FreshCacheOfANotUnsupportedVersionIsUsed) {
  SetRecord("res_1_0_3.zip", "d41d8cd98f00b204e9800998ecf8427e");
  WriteCache(R"({"zipName":"res_1_0_3.zip"})");
  const FileInfoSource source = Decide(Config("1.2.0", R"(["1.1.x","2.x.x"])"));
  EXPECT_EQ(status::kLocalFileInfo, source.kind);
  EXPECT_EQ(CachePath(), source.path);
  // Without any patterns, and with patterns that are not strings or have the wrong shape.
  EXPECT_EQ(status::kLocalFileInfo, Decide(R"({"lastVersion":"1.2.0"})").kind);
  EXPECT_EQ(status::kLocalFileInfo, Decide(Config("1.2.0", R"([1,null,"1.0","1.0.3.1",{"a":"1.0.3"}])")).kind);
  EXPECT_EQ(status::kLocalFileInfo, Decide(R"({"lastVersion":"1.2.0","unsupportedVersions":"1.0.3"})").kind);
  // The installed version may sit in a folder of the archive name.
  SetRecord(settings::channelId + "/res_1_0_3.zip", "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(status::kLocalFileInfo, Decide(R"({"lastVersion":"1.2.0"})").kind);
}

TEST_F(DecisionTest, UnsupportedInstalledVersionAsksTheServer) {
  SetRecord("res_1_0_3.zip", "d41d8cd98f00b204e9800998ecf8427e");
  WriteCache(R"({"zipName":"res_1_0_3.zip"})");
  for (const char* patterns : {R"(["1.0.x"])", R"(["x.x.x"])", R"(["9.9.9",1,"1.0.3"])"}) {
    const FileInfoSource source = Decide(Config("1.2.0", patterns));
    EXPECT_EQ(status::kRemoteFileInfo, source.kind) << patterns;
    EXPECT_EQ(Remote1_2_0(), source.path) << patterns;
  }
}

TEST_F(DecisionTest, RecordWithoutAVersionedArchiveAsksTheServer) {
  WriteCache(R"({"zipName":"res_1_0_3.zip"})");
  for (const char* name : {"", "res_1_0.zip", "res_1_0_3.ZIP", "res.1.0.3.zip"}) {
    SetRecord(name, "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(status::kRemoteFileInfo, Decide(R"({"lastVersion":"1.2.0"})").kind) << name;
  }
}

TEST_F(DecisionTest, UnusableCacheAsksTheServer) {
  SetRecord("res_1_0_3.zip", "d41d8cd98f00b204e9800998ecf8427e");
  const std::string config = R"({"lastVersion":"1.2.0"})";
  EXPECT_EQ(status::kRemoteFileInfo, Decide(config).kind) << "missing";
  for (const char* text : {"", "[]", "{\"zipName\":", "{} {}", "null"}) {
    WriteCache(text);
    const FileInfoSource source = Decide(config);
    EXPECT_EQ(status::kRemoteFileInfo, source.kind) << "cache text: " << text;
    EXPECT_EQ(Remote1_2_0(), source.path);
  }
  // A folder where the cache file should be.
  std::filesystem::remove(CachePath());
  std::filesystem::create_directory(CachePath());
  EXPECT_EQ(status::kRemoteFileInfo, Decide(config).kind) << "folder";
}

TEST_F(DecisionTest, CacheIsFreshForExactlyTenDays) {
  SetRecord("res_1_0_3.zip", "d41d8cd98f00b204e9800998ecf8427e");
  WriteCache(R"({"zipName":"res_1_0_3.zip"})");
  const std::uint64_t writtenMs = static_cast<std::uint64_t>(kCacheWrittenAt) * 1000;
  const std::string config = R"({"lastVersion":"1.2.0"})";
  EXPECT_EQ(status::kLocalFileInfo, Decide(config, writtenMs + 864000000).kind);
  EXPECT_EQ(status::kRemoteFileInfo, Decide(config, writtenMs + 864000001).kind);
  EXPECT_EQ(status::kLocalFileInfo, Decide(config, writtenMs).kind);
  EXPECT_EQ(status::kLocalFileInfo, Decide(config, writtenMs - 5000).kind);  // clock behind the file
}

TEST_F(DecisionTest, CacheWrittenJustNowIsFreshOnTheRealClock) {
  SetRecord("res_1_0_3.zip", "d41d8cd98f00b204e9800998ecf8427e");
  WriteFile(CachePath(), R"({"zipName":"res_1_0_3.zip"})");
  CheckOptions options;
  Check check(options);
  EXPECT_EQ(status::kLocalFileInfo, check.DecideFileInfoSource(R"({"lastVersion":"1.2.0"})").kind);
  SetModificationTime(CachePath(), std::time(nullptr) - 11 * 86400);
  EXPECT_EQ(status::kRemoteFileInfo, check.DecideFileInfoSource(R"({"lastVersion":"1.2.0"})").kind);
}

TEST_F(DecisionTest, ConfigurationThatIsNotAnObjectReportsAnError) {
  EXPECT_THROW(Decide("[]"), JsonToObjectException);
  for (const char* config : {"", "[]", "\"1.0.0\"", "{\"lastVersion\":"}) {
    auto recorder = std::make_shared<Recorder>();
    MakeCheck()->ProcessConfig(RecordInto(recorder), config);
    ASSERT_EQ(1u, recorder->Rows().size()) << config;
    const Row row = recorder->Rows().front();
    EXPECT_EQ("error", row.status);
    EXPECT_EQ(std::string(texts::kCheckFileError) + "JsonUtil::ToObject Error", row.first);
    EXPECT_EQ("", row.second);
    EXPECT_EQ(0, row.size);
    EXPECT_EQ(0, row.offset);
  }
}

}  // namespace
}  // namespace updatetest

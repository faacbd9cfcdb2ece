// Archive-name safety, cache paths and the URL list.
#include <gtest/gtest.h>

#include "app/settings.h"
#include "update/check.h"
#include "update/failover.h"

namespace {

TEST(IsSafeArchiveName, KeepsNamesInsideTheWorkingFolder) {
  EXPECT_TRUE(IsSafeArchiveName("res_1_0_3.zip"));
  EXPECT_TRUE(IsSafeArchiveName("MorvanePC1/res_1_0_3.zip"));
  EXPECT_TRUE(IsSafeArchiveName("MorvanePC1\\res_1_0_3.zip"));
  EXPECT_TRUE(IsSafeArchiveName("./a..b/res.zip"));
  EXPECT_TRUE(IsSafeArchiveName(""));
}

TEST(IsSafeArchiveName, RefusesNamesThatLeaveIt) {
  EXPECT_FALSE(IsSafeArchiveName("/etc/res_1_0_3.zip"));
  EXPECT_FALSE(IsSafeArchiveName("\\\\server\\share\\res.zip"));
  EXPECT_FALSE(IsSafeArchiveName("C:\\Windows\\res.zip"));
  EXPECT_FALSE(IsSafeArchiveName("c:res.zip"));
  EXPECT_FALSE(IsSafeArchiveName("res.zip:stream"));
  EXPECT_FALSE(IsSafeArchiveName("../res.zip"));
  EXPECT_FALSE(IsSafeArchiveName("MorvanePC1/../../res.zip"));
  EXPECT_FALSE(IsSafeArchiveName("MorvanePC1\\..\\..\\res.zip"));
  EXPECT_FALSE(IsSafeArchiveName("MorvanePC1/.."));
  EXPECT_FALSE(IsSafeArchiveName("a/.../res.zip"));  // Windows trims trailing dots
  EXPECT_FALSE(IsSafeArchiveName("a/.. /res.zip"));
}

TEST(CachePathOf, ReplacesTheChannelFolderByTheDataFolder) {
  EXPECT_EQ(settings::dataFolder + "/fileInfo_1_2_3.json", CachePathOf(settings::channelId + "/fileInfo_1_2_3.json"));
  // The data folder's name contains the channel's; the scan goes on after each replacement.
  EXPECT_EQ(settings::dataFolder + "/" + settings::dataFolder + ".json",
            CachePathOf(settings::channelId + "/" + settings::channelId + ".json"));
  EXPECT_EQ("fileInfo_.json", CachePathOf("fileInfo_.json"));
}

TEST(BuildUrlList, OneUrlPerBaseInOrder) {
  const std::vector<std::string> urls =
      BuildUrlList({"http://a.example/x/", "http://b.example/x", ""}, "MorvanePC1/config.json?rand=7");
  ASSERT_EQ(3u, urls.size());
  EXPECT_EQ("http://a.example/x/MorvanePC1/config.json?rand=7", urls[0]);
  EXPECT_EQ("http://b.example/x/MorvanePC1/config.json?rand=7", urls[1]);
  EXPECT_EQ("MorvanePC1/config.json?rand=7", urls[2]);                             // an empty base gives the path alone
  EXPECT_EQ("http://a.example//p", BuildUrlList({"http://a.example/"}, "/p")[0]);  // not trimmed
  EXPECT_TRUE(BuildUrlList({}, "p").empty());
}

}  // namespace

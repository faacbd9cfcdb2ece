// Archive names, cache paths and the URL list.
#include <gtest/gtest.h>

#include "app/settings.h"
#include "net/archive_name.h"
#include "update/check.h"
#include "update/failover.h"

namespace {

TEST(IsDownloadFolderArchiveName, KeepsPlainNamesInTheDownloadFolder) {
  EXPECT_TRUE(IsDownloadFolderArchiveName("MorvanePC1/res_1_0_3.zip"));
  EXPECT_TRUE(IsDownloadFolderArchiveName("MorvanePC1/a..b res.zip"));
  EXPECT_TRUE(IsDownloadFolderArchiveName("MorvanePC1/CONSOLE.zip"));  // only the device names themselves
}

TEST(IsDownloadFolderArchiveName, RefusesEveryOtherPlace) {
  for (const char* name : {"",
                           "res_1_0_3.zip",
                           "MorvanePC1/",
                           "MorvanePC1\\res_1_0_3.zip",
                           "./MorvanePC1/res.zip",
                           "local_config.json",
                           "Tessarine_MorvanePC1/save.dat",
                           "MorvanePC1/../local_config.json",
                           "MorvanePC1/sub/res.zip",
                           "MorvanePC1//res.zip",
                           "/etc/res_1_0_3.zip",
                           "\\\\server\\share\\res.zip",
                           "C:\\Windows\\res.zip",
                           "MorvanePC1/c:res.zip",
                           "MorvanePC1/res.zip:stream",
                           "MorvanePC1/..",
                           "MorvanePC1/.",
                           "MorvanePC1/res.zip.",
                           "MorvanePC1/res.zip ",
                           "MorvanePC1/re\ts.zip",
                           "MorvanePC1/NUL",
                           "MorvanePC1/com1.zip",
                           "MorvanePC1/Lpt9",
                           "MorvanePC1x/res.zip",
                           "morvanepc1/res.zip"}) {
    EXPECT_FALSE(IsDownloadFolderArchiveName(name)) << name;
  }
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

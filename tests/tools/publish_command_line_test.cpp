// What launcher-publish accepts on its command line, and the texts releases are named by.
#include <gtest/gtest.h>

#include "tools/publish/publish_options.h"
#include "tools/publish/version_text.h"

namespace publish {
namespace {

TEST(VersionText, AcceptsOnlyThreeRunsOfDigits) {
  EXPECT_TRUE(IsDottedVersion("1.0.0"));
  EXPECT_TRUE(IsDottedVersion("1.10.2"));
  for (const char* bad :
       {"1.0", "1.0.0.1", "1..0", "1.0.", ".1.0", "1.0.x", "1.0.-1", "v1.0.0", "1.0.0 ", "", "1.0.1234567890"}) {
    EXPECT_FALSE(IsDottedVersion(bad)) << bad;
  }
}

TEST(VersionText, PatternsAllowXInAnyPart) {
  EXPECT_TRUE(IsVersionPattern("1.0.x"));
  EXPECT_TRUE(IsVersionPattern("x.x.x"));
  EXPECT_TRUE(IsVersionPattern("2.3.4"));
  for (const char* bad : {"1.0", "1.0.x.1", "1.X.0", "1.*.0", "1.xx.0", ""}) EXPECT_FALSE(IsVersionPattern(bad)) << bad;
}

TEST(VersionText, ChannelIdIsOneFolderName) {
  EXPECT_TRUE(IsChannelId("MorvanePC1"));
  EXPECT_TRUE(IsChannelId("beta-2_win.x64"));
  for (const char* bad : {"", ".", "..", "a/b", "a\\b", "a b", "a?b"}) EXPECT_FALSE(IsChannelId(bad)) << bad;
}

TEST(PublishCommandLine, ReadsPositionalsAndRepeatedPatterns) {
  const auto parsed = ParsePublishCommandLine(
      {"--unsupported", "1.0.x", "MorvanePC1", "1.1.0", "build", "out", "--unsupported", "0.x.x", "--game-exe", "g"});
  ASSERT_TRUE(parsed.options) << parsed.error;
  EXPECT_EQ(parsed.options->channelId, "MorvanePC1");
  EXPECT_EQ(parsed.options->version, "1.1.0");
  EXPECT_EQ(parsed.options->buildFolder, "build");
  EXPECT_EQ(parsed.options->outputFolder, "out");
  EXPECT_EQ(parsed.options->gameExeName, "g");
  ASSERT_TRUE(parsed.options->unsupportedVersions);
  EXPECT_EQ(*parsed.options->unsupportedVersions, (std::vector<std::string>{"1.0.x", "0.x.x"}));
}

TEST(PublishCommandLine, KeepsOrClearsTheUnsupportedList) {
  const auto keep = ParsePublishCommandLine({"C", "1.0.0", "b", "o"});
  ASSERT_TRUE(keep.options);
  EXPECT_FALSE(keep.options->unsupportedVersions);
  const auto clear = ParsePublishCommandLine({"--no-unsupported", "C", "1.0.0", "b", "o"});
  ASSERT_TRUE(clear.options);
  ASSERT_TRUE(clear.options->unsupportedVersions);
  EXPECT_TRUE(clear.options->unsupportedVersions->empty());
}

TEST(PublishCommandLine, RefusesWithAReason) {
  EXPECT_NE(ParsePublishCommandLine({"C", "1.0", "b", "o"}).error.find("a.b.c"), std::string::npos);
  EXPECT_NE(ParsePublishCommandLine({"C/D", "1.0.0", "b", "o"}).error.find("channel"), std::string::npos);
  EXPECT_NE(ParsePublishCommandLine({"C", "1.0.0", "b"}).error.find("4 arguments"), std::string::npos);
  EXPECT_NE(ParsePublishCommandLine({"--unsupported", "1.0", "C", "1.0.0", "b", "o"}).error.find("pattern"),
            std::string::npos);
  EXPECT_NE(ParsePublishCommandLine({"C", "1.0.0", "b", "o", "--unsupported"}).error.find("needs a value"),
            std::string::npos);
  EXPECT_NE(ParsePublishCommandLine({"--force", "C", "1.0.0", "b", "o"}).error.find("unknown option"),
            std::string::npos);
  EXPECT_TRUE(ParsePublishCommandLine({"C", "1.0.0", "--help"}).helpRequested);
}

}  // namespace
}  // namespace publish

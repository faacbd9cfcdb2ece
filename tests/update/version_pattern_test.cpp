#include "update/version_pattern.h"

#include <gtest/gtest.h>

namespace {

TEST(MatchVersionPattern, ComparesThreePartsAsText) {
  EXPECT_TRUE(MatchVersionPattern("1.0.3", "1.0.3"));
  EXPECT_TRUE(MatchVersionPattern("1.0.x", "1.0.3"));
  EXPECT_TRUE(MatchVersionPattern("x.x.x", "7.8.9"));
  EXPECT_TRUE(MatchVersionPattern("1.0.3", "1.x.3"));  // "x" on either side
  EXPECT_FALSE(MatchVersionPattern("1.1.x", "1.0.3"));
  EXPECT_FALSE(MatchVersionPattern("2.x.x", "1.0.3"));
  EXPECT_FALSE(MatchVersionPattern("1.01.3", "1.1.3"));  // no numeric comparison
  EXPECT_FALSE(MatchVersionPattern("1.X.3", "1.0.3"));   // only a lower-case x is a wildcard
}

TEST(MatchVersionPattern, NeedsExactlyThreeNonEmptyParts) {
  EXPECT_FALSE(MatchVersionPattern("1.0", "1.0.3"));
  EXPECT_FALSE(MatchVersionPattern("1.0.3.1", "1.0.3"));
  EXPECT_FALSE(MatchVersionPattern("x.x.x", "1.0"));
  EXPECT_FALSE(MatchVersionPattern("", ""));
  // Runs of dots separate once; leading and trailing dots give no parts.
  EXPECT_TRUE(MatchVersionPattern(".1..0.3.", "1.0.3"));
  EXPECT_TRUE(MatchVersionPattern("1.0.3", "1...0...3"));
}

TEST(InstalledVersionOf, FindsTheFirstVersionedArchiveSuffix) {
  EXPECT_EQ("1_0_3", InstalledVersionOf("res_1_0_3.zip"));
  EXPECT_EQ("1_0_3", InstalledVersionOf("MorvanePC1/res_1_0_3.zip"));
  EXPECT_EQ("10_20_30", InstalledVersionOf("a_10_20_30.zip_9_9_9.zip"));
  EXPECT_EQ("1_2_3", InstalledVersionOf("x_1_2_3.zipper"));  // the match may lie anywhere
  EXPECT_EQ("", InstalledVersionOf("res_1_0.zip"));
  EXPECT_EQ("", InstalledVersionOf("res_1_0_3.ZIP"));
  EXPECT_EQ("", InstalledVersionOf("res-1_0_3.zip"));
  EXPECT_EQ("", InstalledVersionOf(""));
}

}  // namespace

#include "update/json_util.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

bool IsObjectText(const std::string& text) {
  rapidjson::Document document;
  try {
    JsonUtil::ToObject(document, text);
    return true;
  } catch (const JsonToObjectException& error) {
    EXPECT_STREQ("JsonUtil::ToObject Error", error.what());
    return false;
  }
}

TEST(JsonUtilToObject, AcceptsOnlyASingleObject) {
  EXPECT_TRUE(IsObjectText("{}"));
  EXPECT_TRUE(IsObjectText(" \t\r\n{\"a\":1} \n"));
  EXPECT_FALSE(IsObjectText(""));
  EXPECT_FALSE(IsObjectText("[]"));
  EXPECT_FALSE(IsObjectText("\"text\""));
  EXPECT_FALSE(IsObjectText("5"));
  EXPECT_FALSE(IsObjectText("null"));
  EXPECT_FALSE(IsObjectText("true"));
  EXPECT_FALSE(IsObjectText("{} {}"));
  EXPECT_FALSE(IsObjectText("{\"a\":1,}"));        // no trailing commas
  EXPECT_FALSE(IsObjectText("{/* c */\"a\":1}"));  // no comments
  EXPECT_FALSE(IsObjectText("{\"a\":NaN}"));
  EXPECT_FALSE(IsObjectText("{\"a\":"));
}

TEST(JsonUtilToObject, TextEndsAtTheFirstZeroByte) {
  EXPECT_TRUE(IsObjectText(std::string("{}\0garbage", 10)));
  EXPECT_FALSE(IsObjectText(std::string("\0{}", 3)));
}

TEST(JsonUtilToObject, DeepNestingDoesNotExhaustTheStack) {
  const std::size_t depth = 200000;
  const std::string nested = std::string(depth, '[') + std::string(depth, ']');
  EXPECT_TRUE(IsObjectText("{\"a\":" + nested + "}"));
  EXPECT_FALSE(IsObjectText("{\"a\":" + std::string(depth, '[') + "}"));
  EXPECT_FALSE(IsObjectText(nested));
}

TEST(JsonUtilToObject, IsCaughtAsAStandardException) {
  rapidjson::Document document;
  try {
    JsonUtil::ToObject(document, "[1]");
    FAIL() << "an array was taken for an object";
  } catch (const std::exception& error) {
    EXPECT_STREQ("JsonUtil::ToObject Error", error.what());
  }
}

TEST(JsonUtilToObject, RefillsAUsedDocument) {
  rapidjson::Document document;
  JsonUtil::ToObject(document, R"({"lastVersion":"1.0.0"})");
  JsonUtil::ToObject(document, R"({"other":1})");
  EXPECT_EQ("", JsonUtil::GetString(document, "lastVersion"));
  EXPECT_THROW(JsonUtil::ToObject(document, "oops"), JsonToObjectException);
}

TEST(JsonUtilGetString, ReadsStringsAndFallsBackToEmpty) {
  rapidjson::Document document;
  JsonUtil::ToObject(document, R"({"a":"x","n":5,"z":null,"o":{},"u":"\u4e2d","cut":"ab\u0000cd"})");
  EXPECT_EQ("x", JsonUtil::GetString(document, "a"));
  EXPECT_EQ("", JsonUtil::GetString(document, "n"));
  EXPECT_EQ("", JsonUtil::GetString(document, "z"));
  EXPECT_EQ("", JsonUtil::GetString(document, "o"));
  EXPECT_EQ("", JsonUtil::GetString(document, "missing"));
  EXPECT_EQ("", JsonUtil::GetString(document, "A"));  // names are case-sensitive
  EXPECT_EQ("\xe4\xb8\xad", JsonUtil::GetString(document, "u"));
  EXPECT_EQ("ab", JsonUtil::GetString(document, "cut"));
}

TEST(JsonUtilGetString, RepeatedKeyYieldsTheFirst) {
  rapidjson::Document document;
  JsonUtil::ToObject(document, R"({"lastVersion":"1.0.0","lastVersion":"2.0.0"})");
  EXPECT_EQ("1.0.0", JsonUtil::GetString(document, "lastVersion"));
  EXPECT_EQ("1.0.0", std::string(JsonUtil::Member(document, "lastVersion").GetString()));
}

TEST(JsonUtilMembers, PresenceAndIntegerAccess) {
  rapidjson::Document document;
  JsonUtil::ToObject(document, R"({"zipBytes":9007199254740993,"neg":-1})");
  ASSERT_TRUE(JsonUtil::HasMember(document, "zipBytes"));
  EXPECT_EQ(9007199254740993LL, JsonUtil::Member(document, "zipBytes").GetInt64());
  EXPECT_FALSE(JsonUtil::HasMember(document, "zipName"));
  EXPECT_FALSE(JsonUtil::HasMember(JsonUtil::Member(document, "neg"), "x"));  // not an object
}

TEST(JsonUtilVisitArray, VisitsEveryElementInOrder) {
  rapidjson::Document document;
  JsonUtil::ToObject(document, R"({"list":[1,"a",null,"b"],"notList":"a"})");
  std::vector<std::string> kinds;
  JsonUtil::VisitArray(document, "list", [&kinds](const rapidjson::Value& element) {
    kinds.push_back(element.IsString() ? element.GetString() : "-");
  });
  EXPECT_EQ((std::vector<std::string>{"-", "a", "-", "b"}), kinds);

  int calls = 0;
  const auto count = [&calls](const rapidjson::Value&) { ++calls; };
  JsonUtil::VisitArray(document, "notList", count);
  JsonUtil::VisitArray(document, "missing", count);
  EXPECT_EQ(0, calls);
}

}  // namespace

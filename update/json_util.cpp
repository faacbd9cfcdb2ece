#include "update/json_util.h"

const char* JsonToObjectException::what() const noexcept { return "JsonUtil::ToObject Error"; }

void JsonUtil::ToObject(rapidjson::Document& document, const std::string& text) {
  document.SetNull();
  // Parsing the C string stops at the first zero byte, as documents written by other tools expect.
  // The iterative parser accepts the same grammar but keeps its stack on the heap: a document
  // nested a million levels deep (a hostile or broken server) must not overflow the thread's stack.
  document.Parse<rapidjson::kParseIterativeFlag>(text.c_str());
  if (document.HasParseError() || !document.IsObject()) throw JsonToObjectException();
}

std::string JsonUtil::GetString(const rapidjson::Value& object, const char* name) {
  if (!HasMember(object, name)) return {};
  const rapidjson::Value& value = Member(object, name);
  if (!value.IsString()) return {};
  return std::string(value.GetString());
}

bool JsonUtil::HasMember(const rapidjson::Value& object, const char* name) {
  return object.IsObject() && object.FindMember(name) != object.MemberEnd();
}

const rapidjson::Value& JsonUtil::Member(const rapidjson::Value& object, const char* name) {
  // FindMember scans in document order, so a repeated key yields its first occurrence.
  return object.FindMember(name)->value;
}

void JsonUtil::VisitArray(const rapidjson::Value& object, const char* name, const Visitor& visitor) {
  if (!HasMember(object, name)) return;
  const rapidjson::Value& array = Member(object, name);
  if (!array.IsArray()) return;
  for (const rapidjson::Value& element : array.GetArray()) visitor(element);
}

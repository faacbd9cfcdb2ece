// Reading the launcher's JSON documents (configuration, file information). JSON is only ever
// read. ToObject is strict: the text must be exactly one JSON object. The readers around it are
// tolerant: a missing member, or one of another type, reads as "" or as no elements.
#pragma once

#include <rapidjson/document.h>

#include <exception>
#include <functional>
#include <string>

// Raised by JsonUtil::ToObject; its text is always "JsonUtil::ToObject Error".
class JsonToObjectException : public std::exception {
 public:
  const char* what() const noexcept override;
};

class JsonUtil {
 public:
  using Visitor = std::function<void(const rapidjson::Value& element)>;

  // Parses `text` (up to its first zero byte) into `document`; throws JsonToObjectException
  // unless the result is an object.
  static void ToObject(rapidjson::Document& document, const std::string& text);
  // The member's string value up to its first zero byte; "" when missing or not a string.
  static std::string GetString(const rapidjson::Value& object, const char* name);
  // True when `object` is an object with a member of this name.
  static bool HasMember(const rapidjson::Value& object, const char* name);
  // The first member of this name; only valid after HasMember answered true.
  static const rapidjson::Value& Member(const rapidjson::Value& object, const char* name);
  // Calls `visitor` once per element, in order, when the member exists and is an array.
  static void VisitArray(const rapidjson::Value& object, const char* name, const Visitor& visitor);
};

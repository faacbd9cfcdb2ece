#include "update/release_rules.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <stdexcept>
#include <utility>

#include "package/file_util.h"
#include "platform/files.h"
#include "update/json_util.h"

namespace {

const char* const kChannelKey = "channel";
const char* const kVersionKey = "version";
const char* const kZipSha256Key = "zipSha256";
const char* const kSerialKey = "serial";
const char* const kExpiresKey = "expires";

std::runtime_error Refused(const std::string& text) { return std::runtime_error(text); }

rapidjson::Document ParsedObject(const SignedDocument& document) {
  rapidjson::Document parsed;
  try {
    JsonUtil::ToObject(parsed, document.bytes);
  } catch (const JsonToObjectException&) {
    throw Refused(document.name + " is signed but is not a JSON object");
  }
  return parsed;
}

// A string member; nullopt when missing or of another type.
std::optional<std::string> StringOf(const rapidjson::Value& object, const char* key) {
  if (!JsonUtil::HasMember(object, key)) return std::nullopt;
  const rapidjson::Value& value = JsonUtil::Member(object, key);
  if (!value.IsString()) return std::nullopt;
  return std::string(value.GetString(), value.GetStringLength());
}

// A non-negative integer member; nullopt when missing, negative, fractional or of another type.
std::optional<std::uint64_t> CountOf(const rapidjson::Value& object, const char* key) {
  if (!JsonUtil::HasMember(object, key)) return std::nullopt;
  const rapidjson::Value& value = JsonUtil::Member(object, key);
  if (!value.IsUint64()) return std::nullopt;
  return value.GetUint64();
}

void CheckChannel(const SignedDocument& document, const rapidjson::Value& parsed, const std::string& channel) {
  const std::optional<std::string> named = StringOf(parsed, kChannelKey);
  if (!named) throw Refused(document.name + " names no \"channel\"");
  if (*named != channel) {
    throw Refused(document.name + " is for channel \"" + *named + "\", not for \"" + channel + "\"");
  }
}

bool IsSha256Text(const std::string& text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::string Lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

}  // namespace

SerialStore::SerialStore(std::string path) : path_(std::move(path)) {}

std::uint64_t SerialStore::Highest() const {
  if (!FileUtil::Exists(path_)) return 0;
  std::string text = FileUtil::ReadBytes(path_);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  std::uint64_t serial = 0;
  const char* end = text.data() + text.size();
  // Digits only, all of them, within 64 bits (from_chars reports an overflow).
  const auto [stop, error] = std::from_chars(text.data(), end, serial);
  if (text.empty() || error != std::errc() || stop != end) {
    std::printf("release serial store %s is damaged; taken as empty\n", path_.c_str());
    return 0;
  }
  return serial;
}

bool SerialStore::Write(std::uint64_t serial) const {
  const std::size_t slash = path_.find_last_of("/\\");
  if (slash != std::string::npos) {
    const std::string folder = path_.substr(0, slash);
    if (!platform::IsDirectory(folder)) platform::MakeDirectory(folder);
  }
  const bool written = FileUtil::WriteBytesAtomically(path_, std::to_string(serial) + "\n");
  if (!written) std::printf("release serial store %s could not be written\n", path_.c_str());
  return written;
}

ReleaseRules::ReleaseRules(const ReleaseKey& key, std::string channel) : key_(key), channel_(std::move(channel)) {}

void ReleaseRules::CheckSignatureOf(const SignedDocument& document) const {
  if (!document.signature) throw Refused("signature of " + document.name + " is missing");
  switch (CheckSignature(key_, document.bytes, *document.signature)) {
    case SignatureCheck::kValid:
      return;
    case SignatureCheck::kMalformed:
      throw Refused("signature of " + document.name + " is malformed");
    case SignatureCheck::kMismatch:
      break;
  }
  throw Refused("signature of " + document.name + " does not match the release key");
}

std::string ReleaseRules::CheckFileInfo(const SignedDocument& document, const std::string& expectedVersion) const {
  CheckSignatureOf(document);
  const rapidjson::Document parsed = ParsedObject(document);
  CheckChannel(document, parsed, channel_);
  const std::optional<std::string> version = StringOf(parsed, kVersionKey);
  if (!version) throw Refused(document.name + " names no \"version\"");
  if (!expectedVersion.empty() && *version != expectedVersion) {
    throw Refused(document.name + " is the file information of version " + *version + ", not of " + expectedVersion);
  }
  const std::optional<std::string> digest = StringOf(parsed, kZipSha256Key);
  if (!digest) throw Refused(document.name + " names no \"zipSha256\"");
  const std::string lowered = Lowered(*digest);
  if (!IsSha256Text(lowered)) throw Refused(document.name + " has a malformed \"zipSha256\"");
  return lowered;
}

void ReleaseRules::CheckConfig(const SignedDocument& document, std::uint64_t nowMs, const SerialStore& serials) const {
  CheckSignatureOf(document);
  const rapidjson::Document parsed = ParsedObject(document);
  CheckChannel(document, parsed, channel_);
  const std::optional<std::uint64_t> serial = CountOf(parsed, kSerialKey);
  if (!serial || *serial < 1) throw Refused(document.name + " has no valid \"serial\" (an integer of at least 1)");
  if (JsonUtil::HasMember(parsed, kExpiresKey)) {
    const std::optional<std::uint64_t> expires = CountOf(parsed, kExpiresKey);
    if (!expires) throw Refused(document.name + " has a malformed \"expires\"");
    // The boundary: a configuration is still good at its "expires" millisecond itself and
    // refused from the next one on.
    if (nowMs > *expires) {
      throw Refused(document.name + " expired at " + std::to_string(*expires) + " (UTC milliseconds; now " +
                    std::to_string(nowMs) + ")");
    }
  }
  const std::uint64_t highest = serials.Highest();
  if (*serial < highest) {
    throw Refused("serial " + std::to_string(*serial) + " of " + document.name +
                  " is lower than the highest accepted, " + std::to_string(highest));
  }
  if (*serial > highest) serials.Write(*serial);
}

std::string SignaturePathOf(const std::string& documentPath) { return documentPath + ".sig"; }

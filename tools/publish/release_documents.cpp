#include "tools/publish/release_documents.h"

#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <limits>

#include "tools/publish/publish_error.h"

namespace publish {
namespace {

using rapidjson::Document;
using rapidjson::StringRef;
using rapidjson::Value;

std::string Serialise(const Value& root) {
  rapidjson::StringBuffer buffer;
  rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
  writer.SetIndent(' ', 2);
  root.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

Value Text(const std::string& text, Document::AllocatorType& allocator) {
  Value value;
  value.SetString(text.c_str(), static_cast<rapidjson::SizeType>(text.size()), allocator);
  return value;
}

void SetMember(Document& document, const char* name, Value value) {
  auto& allocator = document.GetAllocator();
  if (auto it = document.FindMember(name); it != document.MemberEnd()) {
    it->value = std::move(value);
  } else {
    document.AddMember(StringRef(name), std::move(value), allocator);
  }
}

// Launchers refuse a configuration whose serial is below the highest they accepted (the same one
// fetched again is fine), so each change must raise it past whatever is published, or a launcher
// that saw the older configuration would keep it; an unreadable serial cannot be guessed.
std::int64_t NextSerial(const Document& document) {
  const auto it = document.FindMember("serial");
  if (it == document.MemberEnd()) return 1;
  if (!it->value.IsInt64() || it->value.GetInt64() < 1 ||
      it->value.GetInt64() == std::numeric_limits<std::int64_t>::max()) {
    throw PublishError(
        "the existing config.json has a \"serial\" that is not an integer of at least 1; set it to the serial "
        "players last received");
  }
  return it->value.GetInt64() + 1;
}

}  // namespace

std::string WriteFileInfo(const FileInfoDocument& info) {
  Document document(rapidjson::kObjectType);
  auto& allocator = document.GetAllocator();
  document.AddMember("zipName", Text(info.zipName, allocator), allocator);
  document.AddMember("zipMd5", Text(info.zipMd5, allocator), allocator);
  document.AddMember("zipBytes", Value(info.zipBytes), allocator);
  Value names(rapidjson::kArrayType);
  for (const auto& name : info.fileNameList) names.PushBack(Text(name, allocator), allocator);
  document.AddMember("fileNameList", names, allocator);
  if (!info.files.empty()) {
    Value files(rapidjson::kArrayType);
    for (const auto& file : info.files) {
      Value element(rapidjson::kObjectType);
      element.AddMember(StringRef(manifest_key::kPath), Text(file.path, allocator), allocator);
      element.AddMember(StringRef(manifest_key::kSize), Value(file.size), allocator);
      element.AddMember(StringRef(manifest_key::kSha256), Text(file.sha256, allocator), allocator);
      element.AddMember(StringRef(manifest_key::kCrc32), Value(file.crc32), allocator);
      files.PushBack(element, allocator);
    }
    document.AddMember(StringRef(manifest_key::kFiles), files, allocator);
  }
  if (!info.channel.empty()) {
    document.AddMember("channel", Text(info.channel, allocator), allocator);
    document.AddMember("version", Text(info.version, allocator), allocator);
    document.AddMember("zipSha256", Text(info.zipSha256, allocator), allocator);
  }
  return Serialise(document);
}

std::string ReadZipMd5(const std::string& fileInfoText) {
  Document document;
  document.Parse(fileInfoText.c_str(), fileInfoText.size());
  if (document.HasParseError() || !document.IsObject()) return "";
  const auto it = document.FindMember("zipMd5");
  if (it == document.MemberEnd() || !it->value.IsString()) return "";
  return it->value.GetString();
}

std::string WriteConfig(const std::string& existing, const std::string& lastVersion,
                        const std::optional<std::vector<std::string>>& unsupported,
                        const std::optional<ConfigSigning>& signing) {
  Document document(rapidjson::kObjectType);
  if (!existing.empty()) {
    document.Parse(existing.c_str(), existing.size());
    if (document.HasParseError() || !document.IsObject()) {
      throw PublishError("the existing config.json is not a JSON object; fix or remove it first");
    }
  }
  auto& allocator = document.GetAllocator();
  SetMember(document, "lastVersion", Text(lastVersion, allocator));
  if (unsupported) {
    Value patterns(rapidjson::kArrayType);
    for (const auto& pattern : *unsupported) patterns.PushBack(Text(pattern, allocator), allocator);
    SetMember(document, "unsupportedVersions", std::move(patterns));
  } else if (!document.HasMember("unsupportedVersions")) {
    SetMember(document, "unsupportedVersions", Value(rapidjson::kArrayType));
  }
  if (signing) {
    SetMember(document, "channel", Text(signing->channel, allocator));
    SetMember(document, "serial", Value(NextSerial(document)));
    if (signing->expiresMs) {
      SetMember(document, "expires", Value(*signing->expiresMs));
    } else {
      // An expiry left from an earlier release would make this one expire at the old time.
      document.RemoveMember("expires");
    }
  }
  return Serialise(document);
}

}  // namespace publish

#include "tools/publish/channel_verify.h"

#include <rapidjson/document.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <vector>

#include "tools/publish/channel_fetch.h"
#include "tools/publish/file_list_check.h"
#include "tools/publish/md5_digest.h"
#include "tools/publish/publish_error.h"
#include "tools/publish/version_text.h"

namespace publish {
namespace {

// The launcher's document requests end within the failover's attempt; this is generous for one.
constexpr long kDocumentTimeoutMs = 15000;
// config.json decides what every player installs next; an intermediate cache holding it longer
// than this delays a release (or a withdrawn one) for everybody behind that cache.
constexpr long kMaxConfigCacheSeconds = 60;

class Report {
 public:
  explicit Report(std::ostream& out) : out_(out) {}
  void Ok(const std::string& text) { out_ << "ok      " << text << "\n"; }
  void Problem(const std::string& text) {
    out_ << "problem " << text << "\n";
    ++problems_;
  }
  int Problems() const { return problems_; }

 private:
  std::ostream& out_;
  int problems_ = 0;
};

std::string Joined(const std::string& base, const std::string& path) {
  return (!base.empty() && base.back() == '/') ? base + path : base + "/" + path;
}

std::string WithRand(const std::string& url) {
  static std::minstd_rand generator(static_cast<unsigned>(std::random_device{}()));
  return url + "?rand=" + std::to_string(generator() % 32768);
}

std::string UtcText(std::int64_t ms) {
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
  return text;
}

bool IsLowerHex(const std::string& text, std::size_t length) {
  return text.size() == length &&
         std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::string StringMember(const rapidjson::Document& document, const char* name) {
  const auto it = document.FindMember(name);
  return (it != document.MemberEnd() && it->value.IsString()) ? it->value.GetString() : "";
}

// An answer the launcher might meet through a cache long after the studio replaced it.
std::optional<std::string> LongCaching(const HttpAnswer& answer) {
  const std::string control = answer.Header("cache-control");
  std::string lower = control;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  if (lower.find("no-store") != std::string::npos || lower.find("no-cache") != std::string::npos) return std::nullopt;
  bool hasMaxAge = false;
  for (const char* directive : {"s-maxage=", "max-age="}) {
    const auto at = lower.find(directive);
    if (at == std::string::npos) continue;
    hasMaxAge = true;
    const long seconds = std::strtol(lower.c_str() + at + std::strlen(directive), nullptr, 10);
    if (seconds > kMaxConfigCacheSeconds) return "Cache-Control: " + control;
  }
  const std::string expires = answer.Header("expires");
  if (!hasMaxAge && !expires.empty()) {
    const std::string dateHeader = answer.Header("date");
    const std::time_t date = dateHeader.empty() ? std::time(nullptr) : curl_getdate(dateHeader.c_str(), nullptr);
    const std::time_t until = curl_getdate(expires.c_str(), nullptr);
    if (until != -1 && date != -1 && until - date > kMaxConfigCacheSeconds) return "Expires: " + expires;
  }
  return std::nullopt;
}

// The document's text, or empty when it could not be fetched. Checks its encoding, its
// signature and (for config.json) its caching headers.
std::optional<std::string> FetchSignedDocument(const VerifyOptions& options, const std::string& name, bool isConfig,
                                               Report& report) {
  const std::string path = options.channelId + "/" + name;
  const HttpAnswer document = FetchDocument(WithRand(Joined(options.baseUrl, path)), kDocumentTimeoutMs);
  if (!document.Is(200)) {
    report.Problem(path + " cannot be fetched: " + document.Failure());
    return std::nullopt;
  }
  const std::string encoding = document.Header("content-encoding");
  if (!encoding.empty() && encoding != "identity") {
    report.Problem(path + " is served with Content-Encoding: " + encoding +
                   "; launchers that do not decode it cannot read it: serve it unencoded");
  }
  if (isConfig) {
    if (const auto caching = LongCaching(document)) {
      report.Problem(path + " may be cached for more than " + std::to_string(kMaxConfigCacheSeconds) + " s (" +
                     *caching + "): players behind a cache would miss a new release");
    } else {
      report.Ok(path + " is not cached for long");
    }
  }
  const HttpAnswer signature = FetchDocument(WithRand(Joined(options.baseUrl, path + ".sig")), kDocumentTimeoutMs);
  if (!signature.Is(200)) {
    report.Problem("signature of " + path + " is missing (" + path + ".sig: " + signature.Failure() + ")");
    return document.body;
  }
  switch (CheckSignature(options.publicKey, document.body, signature.body)) {
    case SignatureCheck::kValid:
      report.Ok("signature of " + path + " matches the release key");
      break;
    case SignatureCheck::kMalformed:
      report.Problem("signature of " + path + " is malformed (not base64 of 64 bytes)");
      break;
    case SignatureCheck::kMismatch:
      report.Problem("signature of " + path + " does not match the release key");
      break;
  }
  return document.body;
}

std::optional<rapidjson::Document> ParsedObject(const std::string& path, const std::string& text, Report& report) {
  rapidjson::Document document;
  document.Parse(text.c_str(), text.size());
  if (document.HasParseError() || !document.IsObject()) {
    report.Problem(path + " is not a JSON object");
    return std::nullopt;
  }
  return document;
}

void CheckChannelMember(const rapidjson::Document& document, const std::string& path, const std::string& channel,
                        Report& report) {
  const std::string named = StringMember(document, "channel");
  if (named == channel) {
    report.Ok(path + " names channel " + channel);
  } else {
    report.Problem(path + " names channel \"" + named + "\", not " + channel);
  }
}

// The dotted "lastVersion", or empty after reporting why there is none.
std::string CheckConfig(const VerifyOptions& options, const rapidjson::Document& config, Report& report) {
  const std::string path = options.channelId + "/config.json";
  CheckChannelMember(config, path, options.channelId, report);
  const auto serial = config.FindMember("serial");
  if (serial == config.MemberEnd() || !serial->value.IsInt64() || serial->value.GetInt64() < 1) {
    report.Problem(path + " has no \"serial\" of at least 1");
  } else {
    report.Ok(path + " has serial " + std::to_string(serial->value.GetInt64()));
  }
  const auto expires = config.FindMember("expires");
  if (expires != config.MemberEnd()) {
    if (!expires->value.IsInt64()) {
      report.Problem(path + " has an \"expires\" that is not an integer of UTC milliseconds");
    } else if (expires->value.GetInt64() <= options.nowMs) {
      report.Problem(path + " expired at " + UtcText(expires->value.GetInt64()) + "; publish it again");
    } else {
      report.Ok(path + " expires at " + UtcText(expires->value.GetInt64()));
    }
  }
  const std::string version = StringMember(config, "lastVersion");
  if (!IsDottedVersion(version)) {
    report.Problem(path + " has no \"lastVersion\" of the form a.b.c");
    return "";
  }
  return version;
}

struct ArchiveFacts {
  std::string zipName, zipMd5, zipSha256;
  std::optional<std::uint64_t> zipBytes;
};

std::optional<ArchiveFacts> CheckFileInfo(const std::string& path, const std::string& channel,
                                          const std::string& version, const rapidjson::Document& info, Report& report) {
  CheckChannelMember(info, path, channel, report);
  const std::string named = StringMember(info, "version");
  if (named == version) {
    report.Ok(path + " names version " + version);
  } else {
    report.Problem(path + " names version \"" + named + "\", not " + version);
  }
  ArchiveFacts facts{StringMember(info, "zipName"), StringMember(info, "zipMd5"), StringMember(info, "zipSha256"),
                     std::nullopt};
  if (!IsLowerHex(facts.zipMd5, 32)) report.Problem(path + " has no \"zipMd5\" of 32 lower-case hex digits");
  if (!IsLowerHex(facts.zipSha256, 64)) report.Problem(path + " has no \"zipSha256\" of 64 lower-case hex digits");
  const auto bytes = info.FindMember("zipBytes");
  if (bytes != info.MemberEnd() && bytes->value.IsInt64() && bytes->value.GetInt64() >= 0) {
    facts.zipBytes = static_cast<std::uint64_t>(bytes->value.GetInt64());
  } else {
    report.Problem(path + " has no \"zipBytes\" (launchers then expect 104857600 bytes)");
  }
  if (facts.zipName.empty()) {
    report.Problem(path + " has no \"zipName\"");
    return std::nullopt;
  }
  return facts;
}

void CheckArchiveHeaders(const std::string& url, const ArchiveFacts& facts, Report& report) {
  const HttpAnswer head = FetchArchiveHead(url);
  if (!head.Is(200)) {
    report.Problem(facts.zipName + " answers HEAD with " + head.Failure());
    return;
  }
  const std::string encoding = head.Header("content-encoding");
  if (!encoding.empty() && encoding != "identity") {
    report.Problem(facts.zipName + " is served with Content-Encoding: " + encoding +
                   "; its bytes would not match its size or resume by offset");
  }
  const std::string length = head.Header("content-length");
  if (facts.zipBytes && length != std::to_string(*facts.zipBytes)) {
    report.Problem(facts.zipName + " has Content-Length " + (length.empty() ? "(none)" : length) +
                   ", the file information says " + std::to_string(*facts.zipBytes));
  } else {
    report.Ok(facts.zipName + " headers: " + (length.empty() ? "no Content-Length" : length + " bytes"));
  }
}

void CheckRange(const std::string& url, const ArchiveFacts& facts, Report& report) {
  if (!facts.zipBytes || *facts.zipBytes < 2) return;
  const std::uint64_t offset = *facts.zipBytes / 2;
  const HttpAnswer part = FetchArchiveFrom(url, offset);
  const std::uint64_t rest = *facts.zipBytes - offset;
  if (part.Is(206) && part.bodyBytes == rest) {
    report.Ok(facts.zipName + " answers a range from byte " + std::to_string(offset) + " with 206 and the " +
              std::to_string(rest) + " bytes after it");
  } else if (part.Is(200)) {
    report.Problem(facts.zipName + " ignores byte ranges (a request from byte " + std::to_string(offset) +
                   " got 200 and the whole archive): interrupted downloads cannot resume");
  } else {
    report.Problem(facts.zipName + " answers a range from byte " + std::to_string(offset) + " with " + part.Failure() +
                   " and " + std::to_string(part.bodyBytes) + " bytes, not 206 and " + std::to_string(rest));
  }
}

// The downloaded archive kept for the file list's check, removed at the end.
class KeptArchive {
 public:
  KeptArchive() {
    std::random_device seed;
    path_ = std::filesystem::temp_directory_path() /
            ("launcher-publish-verify-" + std::to_string(seed()) + "-" + std::to_string(seed()) + ".zip");
    out_.open(path_, std::ios::binary | std::ios::trunc);
  }
  ~KeptArchive() {
    out_.close();
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  KeptArchive(const KeptArchive&) = delete;
  KeptArchive& operator=(const KeptArchive&) = delete;
  bool Write(const char* data, std::size_t size) {
    out_.write(data, static_cast<std::streamsize>(size));
    return static_cast<bool>(out_);
  }
  // The path of the whole file; empty when it could not all be written.
  std::filesystem::path Finish() {
    out_.close();
    return out_ ? path_ : std::filesystem::path();
  }

 private:
  std::filesystem::path path_;
  std::ofstream out_;
};

void CheckFileList(const std::filesystem::path& archive, const ArchiveFacts& facts,
                   const std::vector<ManifestFile>& files, Report& report) {
  if (archive.empty()) {
    report.Problem(facts.zipName + " could not be kept on disk to check its file list");
    return;
  }
  const auto problems = FileListProblems(archive, files);
  for (const auto& problem : problems) report.Problem(facts.zipName + ": " + problem);
  if (problems.empty()) {
    report.Ok(facts.zipName + " holds the " + std::to_string(files.size()) +
              " listed files with their sizes, CRC-32 and SHA-256, and no other file");
  }
}

void CheckArchiveContent(const std::string& url, const ArchiveFacts& facts,
                         const std::optional<std::vector<ManifestFile>>& files, Report& report) {
  StreamDigests digests(true);
  std::optional<KeptArchive> kept;
  if (files) kept.emplace();
  const std::function<bool(const char*, std::size_t)> onBody = [&](const char* data, std::size_t size) {
    digests.Update(data, size);
    return !kept || kept->Write(data, size);
  };
  const HttpAnswer whole = FetchArchive(url, onBody);
  if (!whole.Is(200)) {
    report.Problem(facts.zipName + " cannot be downloaded: " + whole.Failure());
    return;
  }
  const FileDigests got = digests.Finish();
  if (facts.zipBytes && whole.bodyBytes != *facts.zipBytes) {
    report.Problem(facts.zipName + " has " + std::to_string(whole.bodyBytes) + " bytes, the file information says " +
                   std::to_string(*facts.zipBytes));
  }
  if (got.md5 == facts.zipMd5) {
    report.Ok(facts.zipName + " MD5 " + got.md5);
  } else {
    report.Problem(facts.zipName + " has MD5 " + got.md5 + ", the file information says \"" + facts.zipMd5 + "\"");
  }
  if (got.sha256 == facts.zipSha256) {
    report.Ok(facts.zipName + " SHA-256 " + got.sha256);
  } else {
    report.Problem(facts.zipName + " has SHA-256 " + got.sha256 + ", the file information says \"" + facts.zipSha256 +
                   "\"");
  }
  if (kept) CheckFileList(kept->Finish(), facts, *files, report);
}

// The file list, when the file information has one a launcher accepts; reports which it is.
std::optional<std::vector<ManifestFile>> CheckedFileList(const std::string& path, const std::string& infoText,
                                                         Report& report) {
  ManifestRead read = ReadManifestFiles(infoText);
  if (!read.present) {
    report.Ok(path + " has no \"files\": launchers update this release by the whole archive");
  } else if (!read.files) {
    report.Problem(path +
                   " has a \"files\" list launchers refuse (an element of the wrong form, an unsafe or "
                   "repeated path): they update by the whole archive");
  }
  return std::move(read.files);
}

void CheckRelease(const VerifyOptions& options, Report& report) {
  const auto configText = FetchSignedDocument(options, "config.json", true, report);
  if (!configText) return;
  const auto config = ParsedObject(options.channelId + "/config.json", *configText, report);
  if (!config) return;
  const std::string version = CheckConfig(options, *config, report);
  if (version.empty()) return;
  std::string underscored = version;
  std::replace(underscored.begin(), underscored.end(), '.', '_');
  const std::string name = "fileInfo_" + underscored + ".json";
  const std::string path = options.channelId + "/" + name;
  const auto infoText = FetchSignedDocument(options, name, false, report);
  if (!infoText) return;
  const auto info = ParsedObject(path, *infoText, report);
  if (!info) return;
  const auto facts = CheckFileInfo(path, options.channelId, version, *info, report);
  if (!facts) return;
  const std::string url = Joined(options.baseUrl, facts->zipName);
  CheckArchiveHeaders(url, *facts, report);
  CheckRange(url, *facts, report);
  const auto files = CheckedFileList(path, *infoText, report);
  CheckArchiveContent(url, *facts, files, report);
}

}  // namespace

int VerifyChannel(const VerifyOptions& options, std::ostream& out) {
  Report report(out);
  out << "verifying channel " << options.channelId << " at " << options.baseUrl << "\n";
  CheckRelease(options, report);
  if (report.Problems() == 0) {
    out << "no problems: launchers with this release key install " << options.channelId << " from here\n";
  } else {
    out << report.Problems() << (report.Problems() == 1 ? " problem" : " problems")
        << ": players would be refused or held back\n";
  }
  return report.Problems();
}

int RunVerifyCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  std::vector<std::string> positional;
  std::optional<PublicKey> key;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == "--public-key" && i + 1 < arguments.size()) {
      key = DecodeReleaseKey(arguments[++i]);
      if (!key) {
        err << "launcher-publish: --public-key needs the base64 of a 32-byte Ed25519 public key\n";
        return 2;
      }
    } else if (arguments[i].rfind("--", 0) == 0) {
      err << "launcher-publish: verify: unknown option or missing value: " << arguments[i] << "\n";
      return 2;
    } else {
      positional.push_back(arguments[i]);
    }
  }
  if (positional.size() != 2 || !key || !IsChannelId(positional[1])) {
    err << "usage: launcher-publish verify <base-url> <channel-id> --public-key <base64>\n";
    return 2;
  }
  VerifyOptions options;
  options.baseUrl = positional[0];
  options.channelId = positional[1];
  options.publicKey = *key;
  options.nowMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
          .count();
  try {
    return VerifyChannel(options, out) == 0 ? 0 : 1;
  } catch (const std::exception& error) {
    err << "launcher-publish: " << error.what() << "\n";
    return 1;
  }
}

}  // namespace publish

// The update check: is the package unpacked in the data folder the one to start, and if not,
// which archive must be downloaded and from which byte.
//
// The chain, each step a continuation of the one before:
//   Start: "local_fileInfo.json" → OnFileInfo; else "local_config.json" → ProcessConfig;
//          else the configuration from the server (failover) → ProcessConfig.
//   ProcessConfig: DecideFileInfoSource → the cached file information, or the server's.
//   OnFileInfo: remember the text for the cache, then Evaluate on its own thread, which
//          reports exactly one row to the controller: "notNeedUpdate", "needUpdate" or "error".
// A spent failover budget asks Retry/Cancel; Retry repeats the step that timed out.
//
// With a release key (CheckOptions::releasePublicKey) every document is first checked by the
// rules of update/release_rules.h: the server's are followed by their "<path>.sig" through the
// same failover, the local overrides and the cached file information need theirs beside them.
// A refusal is the "error" row naming the rule. Without a key nothing of this happens: the
// signature files and the documents' new members are ignored, exactly as before they existed.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "update/failover.h"
#include "update/release_rules.h"
#include "update/result_callback.h"
#include "update/update_check.h"

class SplashState;

// What a file-information document says about its package.
struct FileInfo {
  std::string zipName;
  std::string zipMd5;
  std::int64_t zipBytes = 0;
  std::vector<std::string> fileNameList;
  // SHA-256 of the archive, lower-case hex; empty when the archive's SHA-256 is not checked.
  std::string zipSha256;
};

// Where the applicable file information comes from: kind "localFileInfo" with the cache path,
// or "remoteFileInfo" with the server path.
struct FileInfoSource {
  std::string kind;
  std::string path;
  std::string version;  // dotted: the version whose file information this is
  std::string text;     // the cache's text, read (and with a release key, verified) once
};

struct CheckOptions {
  std::vector<std::string> baseUrls;
  FailoverSettings failover;      // timings only
  SplashState* splash = nullptr;  // its close button is shown with the time-out dialog
  // Milliseconds since 1970 UTC; the cache's age is measured against it.
  std::function<std::uint64_t()> nowMs;
  // Base64 of the release signing key; empty: documents are taken unsigned, as always.
  std::string releasePublicKey;
  // The highest configuration serial accepted (used only with a release key).
  std::string serialStorePath;
};

class Check : public UpdateCheck {
 public:
  // The size assumed when the file information names none.
  static constexpr std::int64_t kDefaultZipBytes = 104857600;
  // Cached file information older than this is not trusted; exactly this old still is.
  static constexpr std::int64_t kCacheLifetimeMs = 864000000;  // ten days

  explicit Check(CheckOptions options);

  void Start(ResultCallback callback) override;
  void SaveLastFileInfo() override;
  void ForgetFileInfo(const std::string& archiveName) override;
  std::string ArchiveSha256() const override;
  FileLists FileListsForUpdate() const override;

  // Continues from a configuration text; a text that is not a JSON object reports "error".
  void ProcessConfig(const ResultCallback& callback, const std::string& configText);
  // Throws JsonToObjectException when the configuration is not a JSON object.
  FileInfoSource DecideFileInfoSource(const std::string& configText) const;
  // Hand-over of the file information; anything but "succ" is dropped.
  void OnFileInfo(const ResultCallback& callback, const std::string& status, const std::string& text);
  // Runs on its own thread; calls `callback` exactly once.
  void Evaluate(const std::string& text, const ResultCallback& callback);

  // Throws on a text that is not a JSON object, on members of the wrong type, on a negative
  // size and on an archive name other than a plain file name in the download folder.
  // With `withSha256`, "zipSha256" (64 hex digits, either case) is read into the result.
  static FileInfo ParseFileInfo(const std::string& text, bool withSha256 = false);
  // The record names this archive and digest, no extraction was left unfinished, and the
  // archive on disk (if any) is not larger than expected.
  static bool IsInstalled(const std::string& zipName, const std::string& zipMd5, std::int64_t zipBytes);
  // Every listed path exists below the data folder; true for an empty list.
  static bool AllFilesPresent(const std::vector<std::string>& fileNameList);
  // The byte from which the archive download may resume; zipBytes when the archive is complete.
  // A complete archive is hashed once (with its SHA-256 when `withSha256`), and its digests are
  // kept in the DigestMemo for the verification stage.
  std::int64_t ResumeOffset(const std::string& zipName, const std::string& zipMd5, std::int64_t zipBytes,
                            bool withSha256 = false) const;

  // The archive name of the package under evaluation.
  std::string ZipName() const;
  // The cache entry the next SaveLastFileInfo writes: (path, text).
  std::pair<std::string, std::string> PendingFileInfo() const;

 private:
  void RequestConfig(const ResultCallback& callback);
  void RequestFileInfo(const ResultCallback& callback, const std::string& configText, const std::string& path,
                       const std::string& version);
  void OnConfigResponse(const ResultCallback& callback, const std::string& status, const std::string& text);
  void OnFileInfoResponse(const ResultCallback& callback, const std::string& configText, const std::string& path,
                          const std::string& version, const std::string& status, const std::string& text);
  // With a release key: fetches "<name>.sig" through the failover and continues with `then`,
  // the signature nullopt when no server gave it within the budget.
  void FetchSignatureThen(const ResultCallback& callback, const std::string& name, const std::string& text,
                          std::function<void(const SignedDocument&)> then);
  void OnSignedConfig(const ResultCallback& callback, const SignedDocument& config);
  void OnSignedFileInfo(const ResultCallback& callback, const std::string& path, const std::string& version,
                        const SignedDocument& fileInfo);
  // True with the cache's text when it may be used; with a release key, its signature holds.
  bool CacheIsUsable(const std::string& cachePath, const std::string& version, std::string* text) const;
  // The cached file information of the version whose archive is `zipName` ("" when there is
  // none); `verified` is cleared when a release key is compiled in and its signature fails.
  std::string CachedFileInfoOf(const std::string& zipName, bool& verified) const;
  void SetZipName(const std::string& zipName);
  void SetZipSha256(const std::string& zipSha256);

  CheckOptions options_;
  std::optional<ReleaseRules> rules_;  // engaged when a release key is compiled in
  bool releaseKeyMalformed_ = false;   // a key that cannot be read: every check fails closed

  mutable std::mutex mutex_;  // guards the members below; evaluations of a Retry may overlap
  std::string zipName_;
  std::string zipSha256_;
  std::string pendingFileInfoText_;
  std::string pendingFileInfoPath_;
  std::string pendingFileInfoSignature_;  // with a release key: cached beside the text
};

// Reads a document and the signature beside it, both as exact bytes (the signature nullopt when absent).
SignedDocument ReadSignedDocument(const std::string& path);

// Calls `callback` with the "error" row: the check-file error text followed by `message`.
void ReportCheckError(const ResultCallback& callback, const std::string& message);
// The server path of a file-information document, as stored in the data folder: every
// occurrence of the channel folder replaced by the data folder.
std::string CachePathOf(const std::string& serverPath);

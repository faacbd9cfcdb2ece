#include "tools/publish/publisher.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>

#include "tools/publish/build_tree.h"
#include "tools/publish/md5_digest.h"
#include "tools/publish/progress_meter.h"
#include "tools/publish/publish_error.h"
#include "tools/publish/release_documents.h"
#include "tools/publish/release_signature.h"
#include "tools/publish/zip_writer.h"

namespace publish {
namespace fs = std::filesystem;
namespace {

constexpr const char* kArchivePrefix = "res_";
// Launchers read a document of at most 16 MiB (net/http_request.cpp). The file list takes about
// 150 bytes a file; a build of so many files that the list would pass the limit is published
// without it, so every launcher still reads the document (updates then take the whole archive).
constexpr std::size_t kMaxFileInfoBytes = 16u << 20;

// A file being written beside its final name; deleted unless it was moved into place.
class ScratchFile {
 public:
  explicit ScratchFile(fs::path path) : path_(std::move(path)) {}
  ~ScratchFile() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove(path_, ignored);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const fs::path& path() const { return path_; }
  void MoveTo(const fs::path& destination) {
    std::error_code error;
    fs::rename(path_, destination, error);
    if (error)
      throw PublishError("cannot move " + path_.string() + " to " + destination.string() + ": " + error.message());
    path_.clear();
  }

 private:
  fs::path path_;
};

fs::path ScratchPathFor(const fs::path& finalPath) {
  return finalPath.parent_path() / ("." + finalPath.filename().string() + ".publishing");
}

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PublishError("cannot read " + path.string());
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteReplacing(const fs::path& path, const std::string& text) {
  ScratchFile scratch(ScratchPathFor(path));
  {
    std::ofstream out(scratch.path(), std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) throw PublishError("cannot write " + scratch.path().string());
  }
  scratch.MoveTo(path);
}

void CheckBuildFolder(const fs::path& folder) {
  std::error_code error;
  if (!fs::exists(folder, error)) throw PublishError("the build folder does not exist: " + folder.string());
  if (!fs::is_directory(folder, error)) throw PublishError("the build folder is not a folder: " + folder.string());
}

void WarnWithoutGame(const std::vector<BuildEntry>& entries, const std::string& gameExeName, std::ostream& log) {
  const bool found = std::any_of(entries.begin(), entries.end(),
                                 [&](const BuildEntry& e) { return !e.isFolder && e.name == gameExeName; });
  if (!found) log << "warning: the build has no " << gameExeName << " at its top; the launcher starts that file\n";
}

// Packs the archive; returns the file list of what was packed.
std::vector<ManifestFile> PackArchive(const std::vector<BuildEntry>& entries, const fs::path& archive,
                                      std::ostream& log) {
  ProgressMeter meter(log, CountFiles(entries), TotalBytes(entries));
  ZipWriter writer(archive);
  std::size_t filesDone = 0;
  std::uint64_t bytesBefore = 0;
  std::vector<ManifestFile> files;
  for (const auto& entry : entries) {
    if (entry.isFolder) {
      writer.AddFolder(entry.name, entry.permissions, entry.modified);
      continue;
    }
    const auto digest = writer.AddFile(entry.name, entry.source, entry.permissions, entry.modified,
                                       [&](std::uint64_t bytes) { meter.Update(filesDone, bytesBefore + bytes); });
    files.push_back({entry.name, digest.size, digest.sha256, digest.crc32});
    ++filesDone;
    bytesBefore += entry.size;
    meter.Update(filesDone, bytesBefore);
  }
  writer.Close();
  meter.Finish();
  return files;
}

std::vector<std::string> InstalledNames(const std::vector<BuildEntry>& entries) {
  std::vector<std::string> names;
  names.reserve(entries.size());
  for (const auto& entry : entries) names.push_back(entry.name);
  return names;
}

// True when the same archive is already in place; throws when another one is.
bool CheckNotReplacingOtherContent(const fs::path& archivePath, const fs::path& fileInfoPath,
                                   const std::string& version, const std::string& md5) {
  bool unchanged = false;
  if (fs::exists(archivePath)) {
    const std::string publishedMd5 = Md5OfFile(archivePath);
    if (publishedMd5 != md5) {
      throw PublishError("version " + version + " is already published with other content: " + archivePath.string() +
                         " has MD5 " + publishedMd5 + ", the new build gives " + md5 +
                         ". Publish it as a new version instead.");
    }
    unchanged = true;
  }
  if (fs::exists(fileInfoPath)) {
    const std::string listedMd5 = ReadZipMd5(ReadWhole(fileInfoPath));
    if (listedMd5 != md5) {
      throw PublishError("version " + version + " is already published with other content: " + fileInfoPath.string() +
                         " names MD5 \"" + listedMd5 + "\", the new build gives " + md5 +
                         ". Publish it as a new version instead.");
    }
  }
  return unchanged;
}

std::string Underscored(std::string version) {
  std::replace(version.begin(), version.end(), '.', '_');
  return version;
}

fs::path SignaturePathFor(const fs::path& document) { return document.string() + ".sig"; }

SigningKey ReadSigningKey(const fs::path& file, std::ostream& log) {
  SigningKey key = SigningKey::ReadFile(file);
  std::error_code error;
  const auto permissions = fs::status(file, error).permissions();
  if (!error && (permissions & (fs::perms::group_all | fs::perms::others_all)) != fs::perms::none) {
    log << "warning: the signing key " << file.string()
        << " can be read by other users; keep it offline and readable only by you (chmod 600)\n";
  }
  return key;
}

std::optional<ConfigSigning> ConfigSigningFor(const PublishOptions& options) {
  if (!options.signKey) return std::nullopt;
  ConfigSigning signing{options.channelId, std::nullopt};
  if (options.expiresInDays) {
    constexpr std::int64_t kMsPerDay = 24LL * 60 * 60 * 1000;
    const auto now =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    signing.expiresMs = static_cast<std::int64_t>(now) + *options.expiresInDays * kMsPerDay;
  }
  return signing;
}

// An unsigned release over a signed one leaves signatures of the old documents behind; launchers
// built with the key refuse the new ones until the release is signed.
void WarnAboutStaleSignature(const fs::path& document, std::ostream& log) {
  std::error_code error;
  if (fs::exists(SignaturePathFor(document), error)) {
    log << "warning: " << SignaturePathFor(document).string()
        << " belongs to an earlier release; launchers built with a release key refuse " << document.filename().string()
        << " until it is published with --sign-key\n";
  }
}

}  // namespace

std::string ArchiveNameFor(const std::string& channelId, const std::string& dottedVersion) {
  return channelId + "/" + kArchivePrefix + Underscored(dottedVersion) + ".zip";
}

PublishResult Publish(const PublishOptions& options, std::ostream& log) {
  CheckBuildFolder(options.buildFolder);
  const auto entries = ListBuildTree(options.buildFolder);
  if (CountFiles(entries) == 0) throw PublishError("the build folder holds no files: " + options.buildFolder.string());
  WarnWithoutGame(entries, options.gameExeName, log);

  const fs::path channelFolder = options.outputFolder / options.channelId;
  std::error_code error;
  fs::create_directories(channelFolder, error);
  if (error) throw PublishError("cannot create " + channelFolder.string() + ": " + error.message());

  PublishResult result;
  result.zipName = ArchiveNameFor(options.channelId, options.version);
  const fs::path archivePath = options.outputFolder / result.zipName;
  const fs::path fileInfoPath = channelFolder / ("fileInfo_" + Underscored(options.version) + ".json");
  const fs::path configPath = channelFolder / "config.json";

  // A broken configuration or key stops the run before minutes of packing, not after.
  std::optional<SigningKey> key;
  if (options.signKey) key.emplace(ReadSigningKey(*options.signKey, log));
  const std::string existingConfig = fs::exists(configPath) ? ReadWhole(configPath) : "";
  const std::string config =
      WriteConfig(existingConfig, options.version, options.unsupportedVersions, ConfigSigningFor(options));

  ScratchFile scratchArchive(ScratchPathFor(archivePath));
  std::vector<ManifestFile> files = PackArchive(entries, scratchArchive.path(), log);
  const FileDigests digests = DigestsOfFile(scratchArchive.path(), key.has_value());
  result.zipMd5 = digests.md5;
  result.zipBytes = fs::file_size(scratchArchive.path());
  result.files = CountFiles(entries);
  result.folders = entries.size() - result.files;

  result.unchanged = CheckNotReplacingOtherContent(archivePath, fileInfoPath, options.version, result.zipMd5);
  if (!result.unchanged) scratchArchive.MoveTo(archivePath);

  FileInfoDocument info;
  info.zipName = result.zipName;
  info.zipMd5 = result.zipMd5;
  info.zipBytes = result.zipBytes;
  info.fileNameList = InstalledNames(entries);
  info.files = std::move(files);
  if (key) {
    info.channel = options.channelId;
    info.version = options.version;
    info.zipSha256 = digests.sha256;
  }
  std::string fileInfo = WriteFileInfo(info);
  if (fileInfo.size() > kMaxFileInfoBytes) {
    log << "warning: with the file list the file information would pass the " << (kMaxFileInfoBytes >> 20)
        << " MiB launchers read; it is published without \"files\", and updates take the whole archive\n";
    info.files.clear();
    fileInfo = WriteFileInfo(info);
  }
  WriteReplacing(fileInfoPath, fileInfo);
  if (key) WriteReplacing(SignaturePathFor(fileInfoPath), key->SignatureFileText(fileInfo));
  WriteReplacing(configPath, config);
  if (key) {
    WriteReplacing(SignaturePathFor(configPath), key->SignatureFileText(config));
  } else {
    WarnAboutStaleSignature(fileInfoPath, log);
    WarnAboutStaleSignature(configPath, log);
  }
  return result;
}

}  // namespace publish

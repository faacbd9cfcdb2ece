#include "package/file_util.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "app/settings.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/md5.h"

bool FileUtil::Exists(const std::string& path) { return platform::PathExists(path); }

std::string FileUtil::Md5(const std::string& path) { return platform::Md5OfFile(path); }

std::uint64_t FileUtil::Size(const std::string& path) {
  std::uint64_t size = 0;
  return platform::FileSize(path, &size) ? size : 0;
}

std::string FileUtil::ReadAll(const std::string& path) {
  if (!Exists(path) || platform::IsDirectory(path)) return {};
  std::ifstream in(platform::NativePath(path));  // text mode: the CR of a Windows line end is dropped there
  if (!in) return {};
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string FileUtil::ReadBytes(const std::string& path) {
  if (!Exists(path) || platform::IsDirectory(path)) return {};
  std::ifstream in(platform::NativePath(path), std::ios::binary);
  if (!in) return {};
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

namespace {

struct StreamCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// What the platform's text mode would write: Windows ends lines with CR LF.
std::string InTextMode(const std::string& text) {
#ifdef _WIN32
  std::string converted;
  converted.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') converted.push_back('\r');
    converted.push_back(c);
  }
  return converted;
#else
  return text;
#endif
}

// A new file under `path` holding `text`; a link at the path is replaced, never written through.
bool WriteNewFile(const std::string& path, const std::string& text, bool textMode = true) {
  std::unique_ptr<std::FILE, StreamCloser> out(platform::OpenFileNoFollow(path, platform::WriteMode::Replace));
  if (!out) return false;
  const std::string bytes = textMode ? InTextMode(text) : text;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out.get()) == bytes.size();
  return std::fclose(out.release()) == 0 && written;
}

bool WriteAtomically(const std::string& path, const std::string& text, bool textMode) {
  const std::string temporary = path + ".tmp";
  if (!WriteNewFile(temporary, text, textMode)) {
    platform::RemoveFile(temporary);
    return false;
  }
  if (platform::SwapInFile(temporary, path)) return true;
  platform::RemoveFile(temporary);
  return false;
}

}  // namespace

void FileUtil::WriteAll(const std::string& path, const std::string& text) { WriteNewFile(path, text); }

bool FileUtil::WriteAllAtomically(const std::string& path, const std::string& text) {
  return WriteAtomically(path, text, true);
}

bool FileUtil::WriteBytesAtomically(const std::string& path, const std::string& bytes) {
  return WriteAtomically(path, bytes, false);
}

bool FileUtil::CreateDir(const std::string& path) {
  if (platform::MakeDirectory(path)) return true;
  std::printf("create dir fail:  [%s]\n", path.c_str());
  return false;
}

namespace {

std::vector<std::string> ListEntries(const std::string& directory, bool directories) {
  std::vector<platform::DirEntry> entries;
  std::vector<std::string> names;
  if (!platform::ListDirectory(directory, &entries)) return names;
  for (const auto& entry : entries) {
    if (entry.isDirectory == directories) names.push_back(entry.name);
  }
  return names;
}

}  // namespace

std::vector<std::string> FileUtil::ListFiles(const std::string& directory) { return ListEntries(directory, false); }

std::vector<std::string> FileUtil::ListDirs(const std::string& directory) { return ListEntries(directory, true); }

std::string FileUtil::JoinPath(const std::string& first, const std::string& second) {
  constexpr char sep = platform::kPathSeparator;
  if (first.empty() || second.empty()) return first + second;
  const bool firstEnds = first.back() == sep;
  const bool secondStarts = second.front() == sep;
  if (firstEnds && secondStarts) return first + second.substr(1);
  if (firstEnds || secondStarts) return first + second;
  return first + sep + second;
}

void FileUtil::Walk(const std::string& directory, const std::string& prefix, const WalkVisitor& visitor) {
  if (!platform::IsDirectory(directory)) return;
  for (const auto& name : ListDirs(directory)) {
    Walk(JoinPath(directory, name), JoinPath(prefix, name), visitor);
    visitor("dir", JoinPath(prefix, name), name);
  }
  for (const auto& name : ListFiles(directory)) visitor("file", JoinPath(prefix, name), name);
}

void FileUtil::DeleteTree() { DeleteTreeOf(settings::channelId); }

void FileUtil::DeleteTreeOf(const std::string& folder) {
  // A link in the folder's place is not the folder: what it points to is never emptied.
  if (!platform::IsDirectory(folder) || platform::IsLink(folder)) {
    std::printf("attempt to delete dir not exsits!!!\n%s\n", folder.c_str());
    return;
  }
  // Entries are removed as themselves: a link inside goes, the folder it points to stays.
  // A file that cannot be deleted stays, and so does its folder; nothing stops the caller.
  std::vector<platform::DirEntry> entries;
  if (!platform::ListDirectory(folder, &entries)) return;
  for (const auto& entry : entries) platform::RemovePathNoFollow(JoinPath(folder, entry.name));
}

std::vector<std::string> StringUtil::Split(const std::string& text, const std::string& delimiter) {
  std::vector<std::string> pieces;
  if (text.empty()) return pieces;
  if (delimiter.empty()) return {text};
  std::size_t position = text.find_first_not_of(delimiter);
  while (position != std::string::npos && position < text.size()) {
    const std::size_t next = text.find(delimiter, position);
    const std::string piece = text.substr(position, next == std::string::npos ? std::string::npos : next - position);
    if (!piece.empty()) pieces.push_back(piece);
    if (next == std::string::npos) break;
    position = next + delimiter.size();
  }
  return pieces;
}

std::uint64_t NowMs() { return platform::NowMs(); }

// File operations over narrow paths relative to the working directory.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// (kind "dir" or "file", path below the walk's root, the entry's own name)
using WalkVisitor =
    std::function<void(const std::string& kind, const std::string& relativePath, const std::string& name)>;

class FileUtil {
 public:
  // True when the path's attributes can be read (file or directory).
  static bool Exists(const std::string& path);
  // 32 lower-case hex digits of the file's MD5; empty when no digest could be produced.
  static std::string Md5(const std::string& path);
  // The file's size; 0 when it cannot be opened.
  static std::uint64_t Size(const std::string& path);
  // The whole file read in text mode; empty when it does not exist.
  static std::string ReadAll(const std::string& path);
  // The file's exact bytes (no line-end conversion on any system); empty when it cannot be read.
  static std::string ReadBytes(const std::string& path);
  // Replaces the file (a link at the path included, never its target) by one holding the text
  // in text mode; silently skipped when it cannot be made.
  static void WriteAll(const std::string& path, const std::string& text);
  // Writes beside the file, then replaces it, so a crash leaves the old or the new content, never a torn one.
  // False when nothing could be written.
  static bool WriteAllAtomically(const std::string& path, const std::string& text);
  // WriteAllAtomically for exact bytes: no line-end conversion on any system.
  static bool WriteBytesAtomically(const std::string& path, const std::string& bytes);
  // Creates exactly one level; false (with a line on standard output) when it fails or exists already.
  static bool CreateDir(const std::string& path);
  static std::vector<std::string> ListFiles(const std::string& directory);
  static std::vector<std::string> ListDirs(const std::string& directory);
  // Joins with the system's separator; the separator is not doubled at the joint.
  static std::string JoinPath(const std::string& first, const std::string& second);
  // Post-order: a subdirectory's contents before the subdirectory, subdirectories before files.
  static void Walk(const std::string& directory, const std::string& prefix, const WalkVisitor& visitor);
  // Empties the channel's download folder (the folder itself stays), removing links inside as
  // links; a link in the folder's place is left for the caller to remove.
  static void DeleteTree();
  // Empties `folder` the same way; DeleteTree is this on the download folder.
  static void DeleteTreeOf(const std::string& folder);
};

class StringUtil {
 public:
  // Splits at every occurrence of the whole delimiter; empty pieces are dropped.
  static std::vector<std::string> Split(const std::string& text, const std::string& delimiter);
};

// Milliseconds since 1970-01-01 00:00 UTC.
std::uint64_t NowMs();

#include "package/output_file.h"

#include "package/close_pool.h"
#include "platform/files.h"

namespace {

// What stands in the way of a new file: a link of any kind, or a folder of an earlier release.
// A failed removal is left for the open below to report.
void ClearFileSite(const std::string& path) {
  if (platform::IsLink(path) || platform::IsDirectory(path)) platform::RemovePathNoFollow(path);
}

}  // namespace

bool MakeFolderInPlace(const std::string& path) {
  const bool folder = !platform::IsLink(path) && platform::IsDirectory(path);
  if (folder) return true;
  if (platform::PathExists(path) || platform::IsLink(path)) platform::RemovePathNoFollow(path);
  return platform::MakeDirectory(path) || (!platform::IsLink(path) && platform::IsDirectory(path));
}

#ifdef _WIN32

// A link at the path is replaced, never written through.
OutputFile::OutputFile(const std::string& path, std::optional<std::uint32_t>) {
  ClearFileSite(path);
  file_ = platform::OpenFileNoFollow(path, platform::WriteMode::Replace);
}

OutputFile::~OutputFile() {
  if (file_ != nullptr) std::fclose(file_);
}

OutputFile::operator bool() const { return file_ != nullptr; }

bool OutputFile::Write(const char* data, std::size_t size) { return std::fwrite(data, 1, size, file_) == size; }

bool OutputFile::Close() {
  std::FILE* file = file_;
  if (file == nullptr) return false;
  file_ = nullptr;
  // What the runtime buffers is written here, so a full disk is still this entry's failure;
  // the close itself, where a scanner may hold the thread, goes to the pool.
  if (std::fflush(file) != 0) {
    std::fclose(file);
    return false;
  }
  ClosePool::Shared().Close(file);
  return true;
}

bool FinishClosingFiles() { return ClosePool::Shared().Drain(); }

#else

bool FinishClosingFiles() { return true; }  // closed where they were written

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr mode_t kDefaultMode = 0666;  // narrowed by the process's umask, as fopen would

}  // namespace

OutputFile::OutputFile(const std::string& path, std::optional<std::uint32_t> permissions) {
  // Removing what is there first means a symbolic link is dropped rather than followed, a
  // read-only file from an earlier run is replaced, and a running program's file is not
  // truncated under it. O_EXCL then refuses anything that appeared in between.
  ClearFileSite(path);
  unlink(path.c_str());
  descriptor_ = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kDefaultMode);
  if (descriptor_ < 0 || !permissions) return;
  // The entry's own bits, umask aside, as the package's maker set them.
  if (fchmod(descriptor_, static_cast<mode_t>(*permissions & 0777)) != 0) {
    close(descriptor_);
    descriptor_ = -1;
  }
}

OutputFile::~OutputFile() {
  if (descriptor_ >= 0) close(descriptor_);
}

OutputFile::operator bool() const { return descriptor_ >= 0; }

bool OutputFile::Write(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(descriptor_, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool OutputFile::Close() {
  const int descriptor = descriptor_;
  if (descriptor < 0) return false;
  descriptor_ = -1;
  return close(descriptor) == 0;
}

#endif

#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/files.h"
#include "platform/process.h"

extern char** environ;

namespace platform {
namespace {

std::mutex argumentsMutex;
std::vector<std::string> recordedArguments;

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

std::string BaseName(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The executable's full path as the kernel names it (links resolved); empty when it is not
// shown to us. A binary replaced on disk while running (an update unpacked over a running game)
// still counts under its path.
std::string ExecutablePath(const std::string& pid) {
  char target[PATH_MAX];
  const ssize_t length = readlink(("/proc/" + pid + "/exe").c_str(), target, sizeof target);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) return {};
  std::string path(target, static_cast<std::size_t>(length));
  const std::string deleted = " (deleted)";
  if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
    path.resize(path.size() - deleted.size());
  }
  return path;
}

std::string ExecutableName(const std::string& pid) {
  const std::string path = ExecutablePath(pid);
  if (!path.empty()) return BaseName(path);
  // Processes of other users hide their executable; their first argument still names them.
  std::ifstream cmdline("/proc/" + pid + "/cmdline", std::ios::binary);
  std::string first;
  std::getline(cmdline, first, '\0');
  return BaseName(first);
}

// exec refuses the file itself with these: a format this kernel does not run (ENOEXEC), a broken
// interpreter entry (ELIBBAD), headers cut short (EIO, the kernel's short read of a truncated file).
bool BlamesTheExecutable(int error) { return error == ENOEXEC || error == ELIBBAD || error == EIO; }

// The launcher never sets a locale, so these are the C library's plain texts, valid GBK as they are.
std::string ErrorText(int error) {
  char buffer[256];
  return strerror_r(error, buffer, sizeof buffer);
}

bool IsNumber(const char* text) {
  if (*text == '\0') return false;
  for (; *text; ++text) {
    if (!std::isdigit(static_cast<unsigned char>(*text))) return false;
  }
  return true;
}

std::string Absolute(const std::string& path) {
  if (!path.empty() && path.front() == '/') return path;
  return CurrentDirectory() + "/" + path;
}

}  // namespace

void ForEachRunningProcess(const ProcessVisitor& visitor) {
  std::unique_ptr<DIR, DirCloser> proc(opendir("/proc"));
  if (!proc) return;
  while (dirent* entry = readdir(proc.get())) {
    if (!IsNumber(entry->d_name)) continue;
    ProcessEntry process;
    process.pid = static_cast<std::uint32_t>(std::strtoul(entry->d_name, nullptr, 10));
    process.exeName = ExecutableName(entry->d_name);
    if (process.exeName.empty()) continue;  // gone meanwhile, or a kernel thread
    if (visitor(process) == LoopState::Stop) return;
  }
}

bool TerminateProcessById(std::uint32_t pid) { return pid != 0 && kill(static_cast<pid_t>(pid), SIGKILL) == 0; }

ImageFolder::ImageFolder(const std::string& folder) {
  char resolved[PATH_MAX];
  if (realpath(folder.c_str(), resolved) != nullptr) resolved_ = resolved;
}

bool ImageFolder::Holds(std::uint32_t pid) const {
  if (resolved_.empty()) return false;
  const std::string executable = ExecutablePath(std::to_string(pid));
  if (executable.size() <= resolved_.size() || executable.compare(0, resolved_.size(), resolved_) != 0) return false;
  return resolved_.back() == '/' || executable[resolved_.size()] == '/';
}

// Windows programs split their command line this way: blanks and tabs separate arguments
// outside quotes; 2n backslashes before a quote give n backslashes and the quote toggles
// quoting; 2n+1 give n backslashes and a literal quote; other backslashes are literal.
std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> arguments;
  std::string current;
  bool inQuotes = false;
  bool hasArgument = false;
  for (std::size_t i = 0; i < commandLine.size();) {
    const char c = commandLine[i];
    if (c == '\\') {
      std::size_t slashes = 0;
      while (i < commandLine.size() && commandLine[i] == '\\') {
        ++slashes;
        ++i;
      }
      if (i < commandLine.size() && commandLine[i] == '"') {
        current.append(slashes / 2, '\\');
        if (slashes % 2 == 1) {
          current += '"';
          ++i;
        }
      } else {
        current.append(slashes, '\\');
      }
      hasArgument = true;
    } else if (c == '"') {
      inQuotes = !inQuotes;
      hasArgument = true;
      ++i;
    } else if ((c == ' ' || c == '\t') && !inQuotes) {
      if (hasArgument) arguments.push_back(current);
      current.clear();
      hasArgument = false;
      ++i;
    } else {
      current += c;
      hasArgument = true;
      ++i;
    }
  }
  if (hasArgument) arguments.push_back(current);
  return arguments;
}

ProcessStart StartProcess(const std::string& commandLine, const std::string& workingFolder) {
  std::vector<std::string> arguments = SplitCommandLine(commandLine);
  if (arguments.empty()) return ProcessStart{false, false, ErrorText(ENOENT)};
  const std::string executable = Absolute(arguments.front());
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
  pid_t pid = 0;
  const int error = posix_spawn(&pid, executable.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  // posix_spawn reports the child's failed chdir or exec with that call's errno.
  if (error != 0) return ProcessStart{false, BlamesTheExecutable(error), ErrorText(error)};
  // The game is not waited for; a reaper keeps it from lingering as a zombie if the launcher outlives it.
  std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
  return ProcessStart{true, false, {}};
}

void RecordArguments(int argc, char** argv) {
  std::lock_guard<std::mutex> lock(argumentsMutex);
  recordedArguments.assign(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::vector<std::string> LauncherArguments() {
  std::lock_guard<std::mutex> lock(argumentsMutex);
  return recordedArguments;
}

}  // namespace platform

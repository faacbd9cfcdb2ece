// Running processes: visiting them by executable name, stopping them, starting the game.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

struct ProcessEntry {
  std::uint32_t pid = 0;
  std::string exeName;  // executable file name without its folder
};

enum class LoopState { Stop = 0, Continue = 1 };
using ProcessVisitor = std::function<LoopState(const ProcessEntry&)>;

// Visits every running process in the system's order until the visitor answers Stop.
// Nothing is visited when the processes cannot be enumerated.
void ForEachRunningProcess(const ProcessVisitor& visitor);
// Asks the process to end at once; false when it cannot be opened or stopped.
bool TerminateProcessById(std::uint32_t pid);

// Whether processes run an executable that lies inside one folder, at any depth. Both paths are
// compared as the system resolves them (links and relative parts resolved, letter case ignored
// on Windows) and the folder's path must end at a separator of the executable's.
class ImageFolder {
 public:
  // `folder` is relative to the current directory; it is resolved once, here.
  explicit ImageFolder(const std::string& folder);
  // False when the system does not tell the process's executable (another user's, gone meanwhile).
  bool Holds(std::uint32_t pid) const;
  // The resolved folder (UTF-8); empty when it does not exist, and then holds nothing.
  const std::string& Path() const { return resolved_; }

 private:
  std::string resolved_;
};

// How a start went: when it failed, the system's reason, and whether the system blamed the
// executable file itself (not a valid program for this system), as opposed to where it lies or
// who may run it.
struct ProcessStart {
  bool started = false;
  bool badExecutable = false;
  std::string reason;  // the system's own words, GBK (code page 936) like the launcher's texts
  explicit operator bool() const { return started; }
};
// Starts a process from a command line (executable path first, Windows quoting rules)
// with the given working folder; the new process is neither waited for nor kept.
ProcessStart StartProcess(const std::string& commandLine, const std::string& workingFolder);
// Splits a command line into arguments the way Windows programs read theirs.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// The launcher's own arguments without the program name, in UTF-8.
// On Linux the entry point records them first with RecordArguments.
std::vector<std::string> LauncherArguments();
void RecordArguments(int argc, char** argv);

}  // namespace platform

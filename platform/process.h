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
// Starts a process from a command line (executable path first, Windows quoting rules)
// with the given working folder; the new process is neither waited for nor kept.
bool StartProcess(const std::string& commandLine, const std::string& workingFolder);
// Splits a command line into arguments the way Windows programs read theirs.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// The launcher's own arguments without the program name, in the narrow encoding.
// On Linux the entry point records them first with RecordArguments.
std::vector<std::string> LauncherArguments();
void RecordArguments(int argc, char** argv);

}  // namespace platform

#include "app/game_control.h"

#include <cstdio>

#include "app/settings.h"
#include "package/file_util.h"
#include "platform/files.h"
#include "platform/process.h"

namespace {

// Names match only when they are the same bytes: no case folding, no folder, no trimming.
void ForEachProcess(const std::string& name, const platform::ProcessVisitor& visitor) {
  platform::ForEachRunningProcess([&](const platform::ProcessEntry& entry) {
    if (entry.exeName != name) return platform::LoopState::Continue;
    return visitor(entry);
  });
}

}  // namespace

void SystemGameControl::KillGameProcesses() {
  ForEachProcess(settings::gameExeName, [](const platform::ProcessEntry& entry) {
    platform::TerminateProcessById(entry.pid);  // already gone or not ours: skipped silently
    return platform::LoopState::Continue;
  });
}

bool SystemGameControl::IsGameRunning() {
  bool found = false;
  ForEachProcess(settings::gameExeName, [&found](const platform::ProcessEntry&) {
    found = true;
    return platform::LoopState::Stop;
  });
  return found;
}

std::string SystemGameControl::BuildArgumentString() {
  // No quotes are added: an argument holding blanks reaches the game as several arguments.
  std::string joined;
  const auto arguments = platform::LauncherArguments();
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) joined += ' ';
    joined += arguments[i];
  }
  return joined;
}

bool SystemGameControl::CreateGameProcess(const std::string& arguments) {
  const std::string commandLine = FileUtil::JoinPath(settings::dataFolder, settings::gameExeName) + " " + arguments;
  const std::string workingFolder = FileUtil::JoinPath(platform::CurrentDirectory(), settings::dataFolder);
  return platform::StartProcess(commandLine, workingFolder);
}

#include "app/game_control.h"

#include <cstdio>

#include "app/settings.h"
#include "package/file_util.h"
#include "platform/files.h"
#include "platform/process.h"

namespace {

// Visits the running copies of the game: the name matches byte for byte (no case folding, no
// folder, no trimming), and the executable lies in the data folder, resolved once per walk.
void ForEachGameProcess(const platform::ProcessVisitor& visitor) {
  const platform::ImageFolder dataFolder(settings::dataFolder);
  platform::ForEachRunningProcess([&](const platform::ProcessEntry& entry) {
    if (entry.exeName != settings::gameExeName) return platform::LoopState::Continue;
    if (!dataFolder.Holds(entry.pid)) {
      std::printf("%s (process %u) runs from another folder than %s, left alone\n", entry.exeName.c_str(),
                  static_cast<unsigned>(entry.pid), dataFolder.Path().c_str());
      return platform::LoopState::Continue;
    }
    return visitor(entry);
  });
}

}  // namespace

void SystemGameControl::KillGameProcesses() {
  ForEachGameProcess([](const platform::ProcessEntry& entry) {
    platform::TerminateProcessById(entry.pid);  // already gone or not ours: skipped silently
    return platform::LoopState::Continue;
  });
}

bool SystemGameControl::IsGameRunning() {
  bool found = false;
  ForEachGameProcess([&found](const platform::ProcessEntry&) {
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

platform::ProcessStart SystemGameControl::CreateGameProcess(const std::string& arguments) {
  const std::string commandLine = FileUtil::JoinPath(settings::dataFolder, settings::gameExeName) + " " + arguments;
  const std::string workingFolder = FileUtil::JoinPath(platform::CurrentDirectory(), settings::dataFolder);
  return platform::StartProcess(commandLine, workingFolder);
}

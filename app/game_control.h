// Stopping and starting the game. Only copies of the game that run from this launcher's data
// folder are its own: a copy of the same name from another install folder, another channel or
// another user is left alone.
#pragma once

#include <string>

#include "platform/process.h"

class GameControl {
 public:
  virtual ~GameControl() = default;
  // Terminates every running copy of the game whose executable lies in the data folder; does not wait.
  virtual void KillGameProcesses() = 0;
  // Whether a copy of the game from the data folder runs.
  virtual bool IsGameRunning() = 0;
  // The launcher's own arguments, joined by single blanks, for the game's command line.
  virtual std::string BuildArgumentString() = 0;
  // Starts the game in the data folder; when it fails, the system's reason and whether it blamed the file.
  virtual platform::ProcessStart CreateGameProcess(const std::string& arguments) = 0;
};

// The real game control on this system.
class SystemGameControl : public GameControl {
 public:
  void KillGameProcesses() override;
  bool IsGameRunning() override;
  std::string BuildArgumentString() override;
  platform::ProcessStart CreateGameProcess(const std::string& arguments) override;
};

// Stopping and starting the game, by its executable name.
#pragma once

#include <string>

class GameControl {
 public:
  virtual ~GameControl() = default;
  // Terminates every running process named like the game; does not wait for them.
  virtual void KillGameProcesses() = 0;
  virtual bool IsGameRunning() = 0;
  // The launcher's own arguments, joined by single blanks, for the game's command line.
  virtual std::string BuildArgumentString() = 0;
  // Starts the game in the data folder; false when it could not be started.
  virtual bool CreateGameProcess(const std::string& arguments) = 0;
};

// The real game control on this system.
class SystemGameControl : public GameControl {
 public:
  void KillGameProcesses() override;
  bool IsGameRunning() override;
  std::string BuildArgumentString() override;
  bool CreateGameProcess(const std::string& arguments) override;
};

// One run of the real launcher executable, in terminal mode, in a working folder of the test's
// choosing: no display, standard input a pipe that the test answers dialogs on ("r" Retry,
// "c" Cancel, an empty line for OK; closing it counts as Cancel), standard output and error
// collected. Single-threaded: the test pumps the pipes itself, between its own checks.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace chaos {

// A message box the launcher printed and waits to have answered.
struct Prompt {
  bool retryCancel = false;  // false: an OK box
  std::string text;          // "[caption] message" as printed
};

class LauncherProcess {
 public:
  // Starts `executable` in `workDir`. Throws std::runtime_error when it cannot be started.
  LauncherProcess(const std::filesystem::path& executable, const std::filesystem::path& workDir);
  ~LauncherProcess();  // kills the process when it still runs
  LauncherProcess(const LauncherProcess&) = delete;
  LauncherProcess& operator=(const LauncherProcess&) = delete;

  // Collects output for up to `milliseconds`; true once the process has ended.
  bool Pump(int milliseconds);
  // Pumps until the process ends or `milliseconds` pass; true when it ended.
  bool WaitExit(int milliseconds);

  // Every box printed so far, oldest first.
  const std::vector<Prompt>& Prompts() const { return prompts_; }
  void Answer(const std::string& line);
  void CloseInput();
  void Kill(int signal);

  pid_t Pid() const { return pid_; }
  bool Exited() const { return exited_; }
  // Exit code when it ended normally, -1 otherwise.
  int ExitCode() const { return exitCode_; }
  // The signal that ended it, 0 when it ended normally.
  int TermSignal() const { return termSignal_; }
  const std::string& Output() const { return output_; }
  const std::string& Errors() const { return errors_; }

 private:
  void ReadAvailable(int fd, std::string* into);
  void FindPrompts();
  void Reap(bool block);

  pid_t pid_ = -1;
  int input_ = -1;
  int outputPipe_ = -1;
  int errorPipe_ = -1;
  bool exited_ = false;
  int exitCode_ = -1;
  int termSignal_ = 0;
  std::string output_;
  std::string errors_;
  std::size_t scanned_ = 0;
  std::vector<Prompt> prompts_;
};

// The launcher left at once because another launcher of this user runs (another suite's, on a
// shared machine): the run says nothing about the scenario and should be repeated.
bool MetAnotherLauncher(const LauncherProcess& process);

// The launcher's exit was orderly: its quick exit with code 0, or a kill the test sent itself.
bool EndedCleanly(const LauncherProcess& process, bool killedByTest);

// Waits until every process whose image lies in `folder` has ended, `milliseconds` at most in all.
// A game the launcher started may still be checking its files when the launcher has gone, and
// its line belongs to that start. posix_spawn returns only after the game's exec, so once the
// launcher is gone each game it started is a process of an image in the data folder.
void WaitForProcessesFrom(const std::filesystem::path& folder, int milliseconds);

}  // namespace chaos

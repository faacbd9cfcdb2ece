// A real child process for end-to-end tests: its standard input is a pipe the test writes the
// answers of dialogs into, its standard output and error go into one captured text.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

class ChildProcess {
 public:
  // Starts `program` with `arguments` in `workingFolder`, with the environment of the test
  // minus the variables named in `unset`. Throws std::runtime_error when it cannot start.
  ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
               const std::filesystem::path& workingFolder, const std::vector<std::string>& unset);
  ~ChildProcess();  // kills a child still running and collects it
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void WriteInput(const std::string& text);
  // End of input: every later dialog is answered Cancel.
  void CloseInput();

  // Waits until the output contains `text`; false on time-out.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout);
  // The exit code once the child has ended; empty on time-out or when a signal ended it.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout);
  bool Exited();

  std::string Output();
  // The child's peak resident memory in KiB once it has been reaped (0 before).
  long PeakResidentKiB() const { return reaped_ ? usage_.ru_maxrss : 0; }

 private:
  void ReadOutput();

  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  bool reaped_ = false;
  int status_ = 0;
  struct rusage usage_ {};
  std::thread reader_;
  std::mutex mutex_;  // guards text_
  std::string text_;
};

}  // namespace e2e

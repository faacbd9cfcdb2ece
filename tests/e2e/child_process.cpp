#include "tests/e2e/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

extern char** environ;

namespace e2e {
namespace {

struct Pipe {
  int read = -1;
  int write = -1;
};

Pipe MakePipe() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  return {ends[0], ends[1]};
}

std::vector<std::string> EnvironmentWithout(const std::vector<std::string>& unset) {
  std::vector<std::string> kept;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    bool drop = false;
    for (const auto& name : unset) drop = drop || text.rfind(name + "=", 0) == 0;
    if (!drop) kept.push_back(text);
  }
  return kept;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ChildProcess::ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                           const std::filesystem::path& workingFolder, const std::vector<std::string>& unset) {
  // An answer written after the child has ended must fail quietly, not end the test run.
  signal(SIGPIPE, SIG_IGN);
  const Pipe input = MakePipe();
  const Pipe output = MakePipe();
  std::vector<std::string> argv{program.string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<std::string> envp = EnvironmentWithout(unset);
  auto argvPointers = Pointers(argv);
  auto envPointers = Pointers(envp);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input.read, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output.write, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output.write, STDERR_FILENO);
  posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
  const int error = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argvPointers.data(), envPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  close(input.read);
  close(output.write);
  if (error != 0) {
    close(input.write);
    close(output.read);
    throw std::runtime_error("cannot start " + program.string() + ": " + std::strerror(error));
  }
  input_ = input.write;
  output_ = output.read;
  reader_ = std::thread([this] { ReadOutput(); });
}

ChildProcess::~ChildProcess() {
  if (!Exited()) {
    kill(pid_, SIGKILL);
    WaitForExit(std::chrono::seconds(10));
  }
  CloseInput();
  // A grandchild (the game) may still hold the output open; the reader ends when it lets go.
  if (reader_.joinable()) reader_.join();
  close(output_);
}

void ChildProcess::ReadOutput() {
  char block[4096];
  for (;;) {
    const ssize_t got = read(output_, block, sizeof block);
    if (got <= 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    text_.append(block, static_cast<std::size_t>(got));
  }
}

void ChildProcess::WriteInput(const std::string& text) {
  if (input_ >= 0) (void)!write(input_, text.data(), text.size());
}

void ChildProcess::CloseInput() {
  if (input_ >= 0) close(input_);
  input_ = -1;
}

bool ChildProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (Output().find(text) != std::string::npos) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool ChildProcess::Exited() {
  if (!reaped_ && wait4(pid_, &status_, WNOHANG, &usage_) == pid_) reaped_ = true;
  return reaped_;
}

std::optional<int> ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!Exited()) {
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!WIFEXITED(status_)) return std::nullopt;
  return WEXITSTATUS(status_);
}

std::string ChildProcess::Output() {
  std::lock_guard<std::mutex> lock(mutex_);
  return text_;
}

}  // namespace e2e

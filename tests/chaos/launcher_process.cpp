#include "tests/chaos/launcher_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace chaos {
namespace {

const char* const kRetryCancelMarker = "[r = Retry, c = Cancel] ";
const char* const kOkMarker = "[Enter = OK] ";

void ClosePipe(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

}  // namespace

LauncherProcess::LauncherProcess(const std::filesystem::path& executable, const std::filesystem::path& workDir) {
  int in[2];
  int out[2];
  int err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    throw std::runtime_error("cannot create pipes");
  }
  // A launcher killed while the test writes must not kill the test.
  std::signal(SIGPIPE, SIG_IGN);
  // Terminal mode: no display to open a splash on. Prepared before fork(): the child of a
  // threaded process may only make async-signal-safe calls until it executes.
  std::vector<std::string> environment;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string text = *variable;
    if (text.rfind("DISPLAY=", 0) != 0 && text.rfind("WAYLAND_DISPLAY=", 0) != 0) environment.push_back(text);
  }
  std::vector<char*> envp;
  for (auto& text : environment) envp.push_back(text.data());
  envp.push_back(nullptr);
  const std::string program = executable.string();
  const std::string folder = workDir.string();
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("cannot fork");
  if (pid_ == 0) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    if (chdir(folder.c_str()) != 0) _exit(126);
    execve(program.c_str(), argv, envp.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  input_ = in[1];
  outputPipe_ = out[0];
  errorPipe_ = err[0];
}

LauncherProcess::~LauncherProcess() {
  if (!exited_) {
    kill(pid_, SIGKILL);
    Reap(true);
  }
  ClosePipe(&input_);
  ClosePipe(&outputPipe_);
  ClosePipe(&errorPipe_);
}

void LauncherProcess::ReadAvailable(int fd, std::string* into) {
  char buffer[4096];
  const ssize_t got = read(fd, buffer, sizeof buffer);
  if (got > 0) into->append(buffer, static_cast<std::size_t>(got));
}

void LauncherProcess::FindPrompts() {
  for (;;) {
    const std::size_t retry = errors_.find(kRetryCancelMarker, scanned_);
    const std::size_t ok = errors_.find(kOkMarker, scanned_);
    const std::size_t at = std::min(retry, ok);
    if (at == std::string::npos) return;
    const bool isRetry = at == retry;
    // The box is printed as "\n[caption] message\n" followed by the marker.
    // (the search starts before the line end that precedes the marker itself).
    std::size_t start = at < 2 ? std::string::npos : errors_.rfind("\n[", at - 2);
    start = start == std::string::npos || start < scanned_ ? scanned_ : start + 1;
    prompts_.push_back({isRetry, errors_.substr(start, at - start)});
    scanned_ = at + std::strlen(isRetry ? kRetryCancelMarker : kOkMarker);
  }
}

void LauncherProcess::Reap(bool block) {
  if (exited_) return;
  int status = 0;
  const pid_t done = waitpid(pid_, &status, block ? 0 : WNOHANG);
  if (done != pid_) return;
  exited_ = true;
  if (WIFEXITED(status)) exitCode_ = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) termSignal_ = WTERMSIG(status);
}

bool LauncherProcess::Pump(int milliseconds) {
  pollfd fds[2] = {{outputPipe_, POLLIN, 0}, {errorPipe_, POLLIN, 0}};
  if (poll(fds, 2, milliseconds) > 0) {
    if (fds[0].revents & (POLLIN | POLLHUP)) ReadAvailable(outputPipe_, &output_);
    if (fds[1].revents & (POLLIN | POLLHUP)) ReadAvailable(errorPipe_, &errors_);
    FindPrompts();
  }
  Reap(false);
  if (exited_) {
    // What is still in the pipes was written before the end.
    fcntl(outputPipe_, F_SETFL, O_NONBLOCK);
    fcntl(errorPipe_, F_SETFL, O_NONBLOCK);
    std::size_t before = 0;
    do {
      before = output_.size() + errors_.size();
      ReadAvailable(outputPipe_, &output_);
      ReadAvailable(errorPipe_, &errors_);
    } while (output_.size() + errors_.size() != before);
    FindPrompts();
  }
  return exited_;
}

bool LauncherProcess::WaitExit(int milliseconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!Pump(20)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
  }
  return true;
}

void LauncherProcess::Answer(const std::string& line) {
  if (input_ < 0) return;
  const std::string text = line + "\n";
  (void)!write(input_, text.data(), text.size());
}

void LauncherProcess::CloseInput() { ClosePipe(&input_); }

void LauncherProcess::Kill(int signal) {
  if (!exited_) kill(pid_, signal);
}

bool MetAnotherLauncher(const LauncherProcess& process) {
  return process.Exited() && process.ExitCode() == 0 &&
         process.Output().find("another launcher is running") != std::string::npos;
}

bool EndedCleanly(const LauncherProcess& process, bool killedByTest) {
  if (!process.Exited()) return false;
  if (killedByTest && process.TermSignal() == SIGKILL) return true;
  return process.TermSignal() == 0 && process.ExitCode() == 0;
}

void WaitForProcessesFrom(const std::filesystem::path& folder, int milliseconds) {
  const std::string prefix = std::filesystem::weakly_canonical(folder).string() + "/";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  std::error_code error;
  for (std::filesystem::directory_iterator entry("/proc", error), end; !error && entry != end; entry.increment(error)) {
    const std::string pid = entry->path().filename().string();
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code unreadable;
    const std::string image = std::filesystem::read_symlink(entry->path() / "exe", unreadable).string();
    if (unreadable || image.rfind(prefix, 0) != 0) continue;
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, std::stoi(pid), 0));
    if (fd < 0) continue;  // already ended
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    pollfd ended{fd, POLLIN, 0};
    if (left > 0) ::poll(&ended, 1, static_cast<int>(left));
    ::close(fd);
  }
}

}  // namespace chaos

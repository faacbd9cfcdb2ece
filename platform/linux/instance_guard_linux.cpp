// The first launcher listens on an abstract-namespace Unix socket named after the instance
// mutex; a later start finds the name taken, sends the activation message and leaves.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/instance_guard.h"

namespace platform {
namespace {

constexpr int kAnswerWaitMs = 3000;

sockaddr_un AddressFor(const std::string& mutexName, socklen_t* length) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // One launcher per user, as a named mutex is per session on Windows.
  const std::string name = mutexName + "." + std::to_string(getuid());
  const std::size_t size = std::min(name.size(), sizeof(address.sun_path) - 2);
  std::memcpy(address.sun_path + 1, name.data(), size);  // leading zero byte: abstract namespace
  *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + size);
  return address;
}

class SocketGuard : public InstanceGuard {
 public:
  SocketGuard(int listener, std::string messageName) : listener_(listener), messageName_(std::move(messageName)) {
    thread_ = std::thread([this] { Serve(); });
  }
  ~SocketGuard() override {
    stopping_ = true;
    shutdown(listener_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    close(listener_);
  }
  void OnActivation(std::function<void()> handler) override {
    std::lock_guard<std::mutex> lock(mutex_);
    handler_ = std::move(handler);
  }

 private:
  void Serve() {
    while (!stopping_) {
      const int peer = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (peer < 0) {
        if (stopping_ || errno == EINVAL || errno == EBADF) return;
        continue;
      }
      char buffer[128] = {};
      pollfd wait{peer, POLLIN, 0};
      const ssize_t got = poll(&wait, 1, kAnswerWaitMs) > 0 ? read(peer, buffer, sizeof buffer - 1) : -1;
      if (got > 0 && messageName_ == std::string(buffer, static_cast<std::size_t>(got))) {
        std::function<void()> handler;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          handler = handler_;
        }
        if (handler) handler();
        const char ack = 1;
        (void)!write(peer, &ack, 1);
      }
      close(peer);
    }
  }

  int listener_;
  std::string messageName_;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::function<void()> handler_;
  std::thread thread_;
};

// Like a broadcast sent with SendMessage: returns once the running instance has handled it.
void SignalRunningInstance(const sockaddr_un& address, socklen_t length, const std::string& messageName) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 &&
      write(fd, messageName.data(), messageName.size()) == static_cast<ssize_t>(messageName.size())) {
    pollfd wait{fd, POLLIN, 0};
    char ack = 0;
    if (poll(&wait, 1, kAnswerWaitMs) > 0) (void)!read(fd, &ack, 1);
  }
  close(fd);
}

}  // namespace

std::unique_ptr<InstanceGuard> AcquireSingleInstance(const std::string& mutexName, const std::string& messageName) {
  socklen_t length = 0;
  const sockaddr_un address = AddressFor(mutexName, &length);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::make_unique<SocketGuard>(-1, messageName);  // cannot guard: run unguarded
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    const bool taken = errno == EADDRINUSE;
    close(fd);
    if (!taken) return std::make_unique<SocketGuard>(-1, messageName);
    SignalRunningInstance(address, length, messageName);
    return nullptr;
  }
  listen(fd, 4);
  return std::make_unique<SocketGuard>(fd, messageName);
}

}  // namespace platform

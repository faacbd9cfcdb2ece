// A listening socket on 127.0.0.1 whose backlog is full: the kernel drops every further
// connection request, so a client's connect hangs until its own time-out, like a mirror whose
// machine is overloaded or whose packets are dropped on the way.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

class HungListener {
 public:
  // `port` 0: one the system chooses; a fixed one for a launcher built with that base URL.
  explicit HungListener(int port = 0) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const int reuse = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 0) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    // A backlog of 0 holds one finished connection; a few more fill the queue of half-open ones.
    for (int i = 0; i < 4; ++i) {
      const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
      ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address);
      fillers_.push_back(client);
    }
  }
  ~HungListener() {
    for (const int client : fillers_) ::close(client);
    ::close(listener_);
  }
  HungListener(const HungListener&) = delete;
  HungListener& operator=(const HungListener&) = delete;

  int Port() const { return port_; }
  std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

 private:
  int listener_ = -1;
  int port_ = 0;
  std::vector<int> fillers_;
};

}  // namespace testsupport

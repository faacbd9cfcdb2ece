#include "tests/chaos/chaos_server.h"

#include <cstdio>
#include <stdexcept>
#include <thread>

namespace chaos {

std::unique_ptr<testsupport::ContentServer> ListenOnChaosPort(std::chrono::seconds patience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  bool told = false;
  for (;;) {
    try {
      return std::make_unique<testsupport::ContentServer>("127.0.0.1", CHAOS_PORT);
    } catch (const std::runtime_error&) {
      if (std::chrono::steady_clock::now() > deadline) throw;
      if (!told) std::printf("port %d is taken (another run of these tests?); waiting\n", CHAOS_PORT);
      told = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
  }
}

}  // namespace chaos

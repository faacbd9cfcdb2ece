// launcher-serve: a local content server for a published release folder.
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "tools/serve/serve_options.h"
#include "tools/serve/static_server.h"

namespace {

// Termination signals are taken by a waiting thread rather than a handler, so stopping the
// server runs as ordinary code.
sigset_t TerminationSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  return signals;
}

}  // namespace

int main(int argc, char** argv) {
  const auto parsed = serve::ParseServeCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (parsed.helpRequested) {
    std::cout << serve::kServeUsage;
    return 0;
  }
  if (!parsed.options) {
    std::cerr << "launcher-serve: " << parsed.error << "\n\n" << serve::kServeUsage;
    return 2;
  }
  const auto& options = *parsed.options;
  if (!std::filesystem::is_directory(options.folder)) {
    std::cerr << "launcher-serve: not a folder: " << options.folder.string() << "\n";
    return 1;
  }
  const sigset_t signals = TerminationSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // before any thread starts, so all inherit it

  std::mutex outputMutex;
  serve::StaticServer server(options.folder, [&outputMutex](const serve::RequestLogLine& line) {
    std::lock_guard<std::mutex> lock(outputMutex);
    std::cout << serve::FormatLogLine(line) << std::endl;
  });
  int port = 0;
  try {
    port = server.Bind(options.port);
  } catch (const std::exception& error) {
    std::cerr << "launcher-serve: " << error.what() << "\n";
    return 1;
  }
  if (!options.cutPath.empty()) server.CutNextAnswer(options.cutPath, options.cutBytes);
  if (!options.portFile.empty()) std::ofstream(options.portFile) << port << "\n";
  {
    std::lock_guard<std::mutex> lock(outputMutex);
    std::cout << "listening on http://127.0.0.1:" << port << "/ serving " << options.folder.string() << std::endl;
  }
  server.Start();
  int received = 0;
  sigwait(&signals, &received);
  server.Stop();
  std::lock_guard<std::mutex> lock(outputMutex);
  std::cout << "stopped" << std::endl;
  return 0;
}

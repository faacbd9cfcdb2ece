// Command line of launcher-serve.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace serve {

struct ServeOptions {
  std::filesystem::path folder;
  int port = 0;                    // 0: the system chooses
  std::filesystem::path portFile;  // when set, the port is also written there
  std::string cutPath;             // "/MorvanePC1/res_1_0_0.zip"; empty for none
  std::uint64_t cutBytes = 0;
};

struct ParsedServeCommandLine {
  std::optional<ServeOptions> options;
  bool helpRequested = false;
  std::string error;
};

ParsedServeCommandLine ParseServeCommandLine(const std::vector<std::string>& arguments);

extern const char* const kServeUsage;

}  // namespace serve

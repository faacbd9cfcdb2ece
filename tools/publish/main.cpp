// launcher-publish: turns a game build folder into a release on the channel's content server
// layout. Exit codes: 0 published, 1 refused or failed, 2 bad command line.
#include <iostream>
#include <string>
#include <vector>

#include "tools/publish/publish_error.h"
#include "tools/publish/publish_options.h"
#include "tools/publish/publisher.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const auto parsed = publish::ParsePublishCommandLine(arguments);
  if (parsed.helpRequested) {
    std::cout << publish::kPublishUsage;
    return 0;
  }
  if (!parsed.options) {
    std::cerr << "launcher-publish: " << parsed.error << "\n\n" << publish::kPublishUsage;
    return 2;
  }
  const auto& options = *parsed.options;
  try {
    const auto result = publish::Publish(options, std::cerr);
    std::cout << (result.unchanged ? "already published, unchanged: " : "published ") << options.channelId << " "
              << options.version << "\n"
              << "  archive   " << (options.outputFolder / result.zipName).string() << " (" << result.zipBytes
              << " bytes, MD5 " << result.zipMd5 << ", " << result.files << " files, " << result.folders
              << " folders)\n"
              << "  documents " << (options.outputFolder / options.channelId).string()
              << "/{config.json,fileInfo_*.json}\n";
    return 0;
  } catch (const std::exception& error) {
    std::cerr << "launcher-publish: " << error.what() << "\n";
    return 1;
  }
}

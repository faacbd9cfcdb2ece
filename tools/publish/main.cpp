// launcher-publish: turns a game build folder into a release on the channel's content server
// layout; `keygen` makes a release key, `verify` checks a live channel. Exit codes: 0 done (no
// problem found), 1 refused, failed or problems found, 2 bad command line.
#include <iostream>
#include <string>
#include <vector>

#include "tools/publish/channel_verify.h"
#include "tools/publish/publish_error.h"
#include "tools/publish/publish_options.h"
#include "tools/publish/publisher.h"
#include "tools/publish/release_signature.h"

namespace {

int Keygen(const std::vector<std::string>& arguments) {
  if (arguments.size() != 2) {
    std::cerr << "launcher-publish: keygen takes one argument, the secret-key file to create\n\n"
              << publish::kPublishUsage;
    return 2;
  }
  try {
    const std::string publicKey = publish::GenerateSecretKeyFile(arguments[1]);
    std::cout << "secret key written to " << arguments[1] << " (mode 0600); keep it offline\n"
              << "public key " << publicKey << "\n"
              << "configure launchers with\n"
              << "  -DLAUNCHER_RELEASE_PUBLIC_KEY=" << publicKey << "\n";
    return 0;
  } catch (const std::exception& error) {
    std::cerr << "launcher-publish: " << error.what() << "\n";
    return 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (!arguments.empty() && arguments[0] == "keygen") return Keygen(arguments);
  if (!arguments.empty() && arguments[0] == "verify") {
    return publish::RunVerifyCommand(std::vector<std::string>(arguments.begin() + 1, arguments.end()), std::cout,
                                     std::cerr);
  }
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
              << "/{config.json,fileInfo_*.json}" << (options.signKey ? " signed, with .sig beside each" : "") << "\n";
    return 0;
  } catch (const std::exception& error) {
    std::cerr << "launcher-publish: " << error.what() << "\n";
    return 1;
  }
}

// Maps a request path onto a file below the served folder.
//
// Policy: the server hands out files of one folder and nothing else. A path with a ".."
// component, a backslash or a NUL byte is refused outright; a path that resolves (through
// links) outside the folder, or to anything but a regular file, is not found.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace serve {

// The file to send for the decoded request path ("/MorvanePC1/config.json"); empty when there
// is none to send.
std::optional<std::filesystem::path> ResolveServedFile(const std::filesystem::path& root,
                                                       const std::string& requestPath);

}  // namespace serve

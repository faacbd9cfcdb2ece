// The whole-file MD5 digest the launcher compares with "zipMd5".
#pragma once

#include <filesystem>
#include <string>

namespace publish {

// 32 lower-case hexadecimal digits. Throws PublishError when the file cannot be read.
std::string Md5OfFile(const std::filesystem::path& file);

}  // namespace publish

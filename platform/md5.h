// MD5 digest of a whole file, streamed in blocks so memory stays flat for any size.
#pragma once

#include <string>

namespace platform {

// 32 lower-case hexadecimal digits; empty when the file cannot be read or hashed.
// Failures are reported on standard output.
std::string Md5OfFile(const std::string& path);

}  // namespace platform

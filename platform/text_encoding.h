// The launcher's texts are GBK (code page 936); the screen and terminal want other encodings.
#pragma once

#include <string>

namespace platform {

// Converts explicitly from code page 936, whatever the system's own code page is.
// Bytes that are not valid GBK become U+FFFD.
std::string GbkToUtf8(const std::string& gbk);

}  // namespace platform

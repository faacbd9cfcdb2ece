// The launcher's texts are GBK (code page 936); the screen and terminal want other encodings.
#pragma once

#include <string>

namespace platform {

// Converts explicitly from code page 936, whatever the system's own code page is.
// Bytes that are not valid GBK become U+FFFD.
std::string GbkToUtf8(const std::string& gbk);
// Converts UTF-8 (file names, the system's words) into code page 936 for a text shown with the
// launcher's own. A character GBK lacks, or a byte that is not UTF-8, becomes "?".
std::string Utf8ToGbk(const std::string& utf8);

}  // namespace platform

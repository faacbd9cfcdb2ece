// Entry names as the launcher reads them: UTF-8, flagged as such in the archive. A build file
// whose name is not UTF-8 (a name made under a legacy code page) would unpack under a different,
// or an invalid, name on the player's machine, so it is refused rather than packed.
#pragma once

#include <string>

namespace publish {

// True for well-formed UTF-8: no stray continuation bytes, no cut-off sequences, no overlong
// forms, no UTF-16 surrogate halves, nothing above U+10FFFF.
bool IsValidUtf8(const std::string& text);

// The name with every byte that is not printable ASCII written as \xNN, for messages.
std::string EscapedName(const std::string& name);

}  // namespace publish

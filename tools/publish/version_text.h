// The texts a release is named by: channel ids, dotted versions and version patterns.
#pragma once

#include <string>

namespace publish {

// Three runs of decimal digits joined by ".", as in "1.10.2"; the launcher reads the
// installed version back out of the archive name with a pattern that accepts only this form.
bool IsDottedVersion(const std::string& text);

// Three parts joined by ".", each a run of digits or "x"; other forms never match anything
// on the launcher's side, so they are refused rather than published silently useless.
bool IsVersionPattern(const std::string& text);

// A channel id is one folder name on the server and on the player's disk: letters, digits,
// "_", "-" and "." (not "." or ".." alone).
bool IsChannelId(const std::string& text);

}  // namespace publish

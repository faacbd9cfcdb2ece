// Versions are three numbers, dotted (1.0.3) in the configuration, underscored (1_0_3) in file
// names. They are never ordered: the server names the current version and patterns of versions
// that must not be kept, where a part "x" stands for any part.
#pragma once

#include <string>

// True when both texts have exactly three non-empty dot-separated parts and every position is
// equal as text (01 differs from 1) or "x" on either side.
bool MatchVersionPattern(const std::string& pattern, const std::string& dottedVersion);

// The underscored version of the first "_a_b_c.zip" inside an archive name (case-sensitive,
// anywhere in the name); empty when the name carries none.
std::string InstalledVersionOf(const std::string& archiveName);

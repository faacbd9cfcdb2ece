#pragma once

#include <string>

// Records the archive about to be downloaded (or verified) and its expected digest. The partial
// archive named by the record is deleted when another archive takes its place or the digest
// changed: a partial file survives only while both stay the same.
void RememberPackage(const std::string& zipPath, const std::string& zipMd5);

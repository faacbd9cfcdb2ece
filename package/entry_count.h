// How many entries an archive holds, where minizip's own answer falls short.
#pragma once

#include <minizip/unzip.h>

#include <cstdint>
#include <string>

// True when the file is a complete zip archive without entries (only the end record, with
// its comment). minizip refuses to open one, yet an empty package is a valid package.
bool IsEmptyArchive(const std::string& archivePath);

// The number of entries of the open archive. Writers without zip64 support (minizip's own
// among them) cap the count at 65,535 when there are more; then the central directory is
// walked to its end. An entry header that cannot be read before the end counts as one more
// entry, so that extraction meets it and fails rather than stopping short. The archive is
// positioned on its first entry afterwards.
std::uint64_t CountEntries(unzFile archive, const std::string& archivePath);

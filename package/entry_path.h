// Entry names of a package archive, turned into paths below the destination folder.
//
// Policy: an archive comes from the network, so its names are untrusted. A name that is
// absolute, carries a drive letter, contains a NUL byte or has a ".." component would
// reach outside the destination and is refused as a whole; nothing of it is written.
// Both "/" and "\\" separate folders (archives made by Windows tools sometimes use "\\").
#pragma once

#include <string>
#include <vector>

// True when writing the name below a destination folder stays inside that folder.
bool IsSafeEntryName(const std::string& localName);

// A safe local name cut at its separators.
struct EntryParts {
  // Each folder the name passes through, as a path relative to the destination, outermost
  // first, written with the system's separator ("x", then "x/y").
  std::vector<std::string> folders;
  // The file's path relative to the destination; empty for a folder entry ("x/y/").
  std::string file;
};

EntryParts SplitEntryName(const std::string& localName);

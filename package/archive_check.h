// The check of a package archive's central directory before anything of it is written.
//
// Policy: an archive the launcher cannot install whole is refused before its first entry, so
// a player's installed game is never half replaced by a package that was never going to fit.
// Refused: a method other than stored (0) or deflated (8), an encrypted entry, and a name the
// system cannot hold. Names leading outside the destination are refused per entry
// (package/entry_path.h).
#pragma once

#include <minizip/unzip.h>

#include <cstdint>
#include <string>

// The heads of the reasons, each followed by the entry's name.
inline constexpr const char* kUnsupportedMethodHead = "unsupported compression method ";
inline constexpr const char* kEncryptedHead = "encrypted entry: ";
inline constexpr const char* kCannotHoldHead = "name this system cannot hold: ";

// The reason the archive cannot be installed, naming the first entry at fault, or "" when
// every one of its `count` entries can be. The archive is back on its first entry afterwards.
std::string FindUninstallableEntry(unzFile archive, std::uint64_t count);

// "12 (bzip2)" for the methods that have a name, else the number alone.
std::string DescribeMethod(unsigned long method);

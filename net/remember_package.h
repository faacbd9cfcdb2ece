#pragma once

#include <string>

// Records the archive about to be downloaded (or verified) and its expected digest, and marks the
// install under way (NoteReplacedPackage first). The partial archive named by the record is
// deleted when another archive takes its place or the digest changed: a partial file survives
// only while both stay the same.
void RememberPackage(const std::string& zipPath, const std::string& zipMd5);

// Before the record's "not installed yet" mark is set: the package installed until now is kept
// as the replaced one, so that a run finding the install unfinished can still remove the files
// that package had and the new one has not. Nothing changes while the mark is already set: the
// data folder then holds the last complete package and pieces of unfinished ones.
void NoteReplacedPackage();

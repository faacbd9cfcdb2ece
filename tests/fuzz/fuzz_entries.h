// The fuzzed entry points: each takes one input as libFuzzer hands it over and returns 0. A
// broken property aborts with a message (a crash for libFuzzer, a failure for the replay test).
// The same functions run under libFuzzer (clang, LAUNCHER_BUILD_FUZZERS) and in the replay test
// of every build, which feeds them the seed corpus and every input that once crashed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace fuzz {

// Configuration document: strict parse, the version decision against a record and a cache.
int ConfigDocument(const std::uint8_t* data, std::size_t size);
// File-information document: parse and the archive-name rule.
int FileInfoDocument(const std::uint8_t* data, std::size_t size);
// Signed document: "<signature text>\0<document>" through the release rules.
int SignedRelease(const std::uint8_t* data, std::size_t size);
// Download record file: load, read, rewrite, load again.
int RecordFile(const std::uint8_t* data, std::size_t size);
// Zip archive: extraction into a scratch folder; nothing may appear outside it.
int ZipArchive(const std::uint8_t* data, std::size_t size);
// Remote zip archive: end records, central directory and entry ranges read from byte buffers.
int RemoteZipArchive(const std::uint8_t* data, std::size_t size);

// The process's scratch working folder, created and entered on first use (the record and the
// cache live relative to the working directory). Removed at exit.
const std::filesystem::path& ScratchFolder();

// Aborts with `what` when `holds` is false.
void Require(bool holds, const char* what);

}  // namespace fuzz

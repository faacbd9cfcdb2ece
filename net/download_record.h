// The download record: a process-wide key/value store kept in the record file inside the data
// folder. It remembers which archive is being downloaded ("zipName") and the digest it must
// have ("zipMd5"), so that a partial archive is resumed only while both stay the same.
//
// A record file larger than kMaxRecordBytes is damaged (a few short lines are all it ever holds)
// and is read as an empty record, never loaded whole.
//
// Record file: one "key=value" line per entry, lines joined with "\r\n", no line end after the
// last one. Reading keeps the first line of a key, cuts a value at its first "=", skips a line
// without a value, and ignores the carriage returns that Windows text mode adds (records of
// earlier launchers hold CR CR LF line ends).
#pragma once

#include <cstdint>
#include <string>

class DownloadRecord {
 public:
  static constexpr const char* kZipName = "zipName";
  static constexpr const char* kZipMd5 = "zipMd5";
  // Non-empty from the moment a package is remembered for download until its extraction has
  // completed: the data folder does not hold the recorded package in between.
  static constexpr const char* kUnzipping = "unzipping";
  // The archive name of the package installed when the unfinished install began: its files may
  // still lie in the data folder. Meaningful only while kUnzipping is set.
  static constexpr const char* kReplaced = "replacedZipName";

  static constexpr std::uint64_t kMaxRecordBytes = 4096;

  // Replaces the store's contents with what the record file holds (empty when it is missing,
  // not a plain file, or larger than kMaxRecordBytes).
  static void Load();
  // The value, or "" (and the key is then kept with an empty value). Loads the file on first use.
  static std::string Get(const std::string& key);
  // Sets the value and rewrites the whole record file. Loads the file on first use. False when
  // the file could not be written (the store keeps the value); a raised error also shows the box.
  static bool Set(const std::string& key, const std::string& value);
  // The record's error box: the record file could not be written. Blocks until answered.
  static void ShowWriteError();
};

// Every path and URL the launcher asks the content server for is composed here:
//   <base>/<channel>/config.json?rand=N              configuration document
//   <base>/<channel>/fileInfo_a_b_c.json?rand=N      file information of version a.b.c
//   <base>/<archive name>                            package archive, byte-range resumable
// A base URL gets a "/" before the path unless it already ends with one.
#pragma once

#include <string>

// `base` and `path` joined with exactly the "/" the base may lack.
std::string JoinUrl(const std::string& base, const std::string& path);
// The channel's folder on the server below one base URL.
std::string ChannelUrl(const std::string& base);
// "<channel>/config.json?rand=<number>"
std::string ConfigRequestPath(int randomNumber);
// "<channel>/fileInfo_<a_b_c>.json" for the dotted version a.b.c ("" gives "fileInfo_.json").
std::string FileInfoPath(const std::string& dottedVersion);
// `path` + "?rand=<number>": makes each document request distinct for caches on the way.
std::string WithCacheBuster(const std::string& path, int randomNumber);
// The URL of the package archive below one base URL.
std::string ArchiveUrl(const std::string& base, const std::string& archiveName);
// a.b.c to a_b_c and back; the text is not validated otherwise.
std::string UnderscoredVersion(const std::string& dotted);
std::string DottedVersion(const std::string& underscored);

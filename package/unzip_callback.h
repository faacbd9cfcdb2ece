#pragma once

#include <functional>
#include <string>

// (status, payload, done, total) of an extraction: "unzip" per entry, then "succ" or "fail".
using UnzipCallback =
    std::function<void(const std::string& status, const std::string& payload, long long done, long long total)>;

// Everything one extraction needs; the extraction thread owns it.
struct UnzipTask {
  std::string archivePath;
  std::string destination;
  UnzipCallback callback;
};

#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Outcome of the update check:
//   "error"         first = message
//   "notNeedUpdate"
//   "needUpdate"    first = archive path, second = digest, size = "zipBytes", offset = resume offset
using ResultCallback = std::function<void(const std::string& status, const std::string& first,
                                          const std::string& second, std::int64_t size, std::int64_t offset)>;

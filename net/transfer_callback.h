#pragma once

#include <functional>
#include <string>

// (status, payload, first, second) of downloads and requests: "trans", "succ", "fail",
// "error", "timeout". What first and second mean depends on the status.
using TransferCallback =
    std::function<void(const std::string& status, const std::string& payload, double first, double second)>;

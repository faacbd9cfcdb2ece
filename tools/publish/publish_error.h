// A publishing step that cannot go on; its text is shown to the studio as it is.
#pragma once

#include <stdexcept>
#include <string>

namespace publish {

class PublishError : public std::runtime_error {
 public:
  explicit PublishError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace publish

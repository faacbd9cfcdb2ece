// The launcher's images, compiled into the executable and found by their integer id.
#pragma once

#include <cstddef>

namespace resources {

struct EmbeddedResource {
  unsigned id;
  const unsigned char* data;
  std::size_t size;
};

// Null when no image carries `id`.
const EmbeddedResource* FindEmbeddedResource(unsigned id);

}  // namespace resources

// The digest the chaos game and the chaos releases agree on: FNV-1a over a file's bytes. It is
// not a security measure; it only has to tell a truncated, mixed or foreign file from the
// published one.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace chaos {

inline std::uint64_t Fnv1a(const std::string& bytes) {
  std::uint64_t hash = 1469598103934665603ull;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

inline std::string HexDigest(std::uint64_t hash) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

}  // namespace chaos

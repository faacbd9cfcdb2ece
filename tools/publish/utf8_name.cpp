#include "tools/publish/utf8_name.h"

#include <cstdio>

namespace publish {
namespace {

bool IsContinuation(unsigned char byte) { return (byte & 0xc0) == 0x80; }

// Length of the sequence a lead byte starts and the lowest code point it may encode; 0 for a
// byte that cannot start one.
struct Lead {
  int length = 0;
  char32_t lowest = 0;
  char32_t bits = 0;
};

Lead ReadLead(unsigned char byte) {
  if (byte < 0x80) return {1, 0, byte};
  if ((byte & 0xe0) == 0xc0) return {2, 0x80, static_cast<char32_t>(byte & 0x1f)};
  if ((byte & 0xf0) == 0xe0) return {3, 0x800, static_cast<char32_t>(byte & 0x0f)};
  if ((byte & 0xf8) == 0xf0) return {4, 0x10000, static_cast<char32_t>(byte & 0x07)};
  return {};
}

}  // namespace

bool IsValidUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const Lead lead = ReadLead(static_cast<unsigned char>(text[i]));
    if (lead.length == 0 || i + static_cast<std::size_t>(lead.length) > text.size()) return false;
    char32_t code = lead.bits;
    for (int k = 1; k < lead.length; ++k) {
      const auto byte = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
      if (!IsContinuation(byte)) return false;
      code = (code << 6) | (byte & 0x3f);
    }
    if (code < lead.lowest || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return false;
    i += static_cast<std::size_t>(lead.length);
  }
  return true;
}

std::string EscapedName(const std::string& name) {
  std::string out;
  for (char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7f) {
      out += c;
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", byte);
      out += hex;
    }
  }
  return out;
}

}  // namespace publish

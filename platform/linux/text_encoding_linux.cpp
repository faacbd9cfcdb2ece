#include <iconv.h>

#include <cerrno>

#include "platform/text_encoding.h"

namespace platform {
namespace {

// Owns one iconv conversion state.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
  ~Iconv() {
    if (Valid()) iconv_close(handle_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  bool Valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t Get() const { return handle_; }

 private:
  iconv_t handle_;
};

// Converts `text`; at a sequence the target cannot take, appends `replacement` and steps over
// the source character: one byte, or with `skipContinuation` the UTF-8 continuation bytes too.
// Without the conversion on this system the text is returned as it is.
std::string Convert(const char* to, const char* from, const std::string& text, const char* replacement,
                    bool skipContinuation) {
  const Iconv converter(to, from);
  if (!converter.Valid()) return text;
  std::string out;
  char buffer[256];
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  while (inLeft > 0) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t result = iconv(converter.Get(), &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
    if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
      out += replacement;
      do {
        ++in;
        --inLeft;
      } while (skipContinuation && inLeft > 0 && (static_cast<unsigned char>(*in) & 0xc0) == 0x80);
    }
  }
  return out;
}

}  // namespace

std::string GbkToUtf8(const std::string& gbk) {
  return Convert("UTF-8", "GBK", gbk, "\xef\xbf\xbd", false);  // U+FFFD for a byte that is not GBK
}

std::string Utf8ToGbk(const std::string& utf8) {
  // The whole character goes: its lead byte and the continuation bytes after it.
  return Convert("GBK", "UTF-8", utf8, "?", true);
}

}  // namespace platform

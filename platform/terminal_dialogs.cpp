#include "platform/terminal_dialogs.h"

#include <cctype>
#include <string>

#include "platform/text_encoding.h"

namespace platform {
namespace {

// Reads one line; false at end of input.
bool ReadLine(std::FILE* in, std::string* line) {
  line->clear();
  int c = 0;
  while ((c = std::fgetc(in)) != EOF && c != '\n') *line += static_cast<char>(c);
  return c != EOF || !line->empty();
}

}  // namespace

int TerminalDialogs::Show(const std::string& text, const std::string& caption, unsigned style) {
  std::lock_guard<std::mutex> lock(mutex_);
  struct OpenFlag {
    std::atomic<bool>& flag;
    explicit OpenFlag(std::atomic<bool>& f) : flag(f) { flag = true; }
    ~OpenFlag() { flag = false; }
  } openWhileAsking(open_);
  const bool retryCancel = (style & 0xFu) == kRetryCancelBox;
  std::fprintf(out_, "\n[%s] %s\n", GbkToUtf8(caption).c_str(), GbkToUtf8(text).c_str());
  if (!retryCancel) {
    std::fprintf(out_, "[Enter = OK] ");
    std::fflush(out_);
    std::string line;
    ReadLine(in_, &line);
    return kAnswerOk;
  }
  for (;;) {
    std::fprintf(out_, "[r = Retry, c = Cancel] ");
    std::fflush(out_);
    std::string line;
    if (!ReadLine(in_, &line)) return kAnswerCancel;  // nobody to answer: do not retry forever
    const char answer = line.empty() ? '\0' : static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
    if (answer == 'r') return kAnswerRetry;
    if (answer == 'c') return kAnswerCancel;
  }
}

}  // namespace platform

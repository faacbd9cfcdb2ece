// The terminal front end: the splash's texts on one refreshed status line on standard error.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/front_end.h"
#include "app/launcher.h"
#include "platform/clock.h"
#include "platform/terminal_dialogs.h"
#include "platform/text_encoding.h"

namespace {

std::string StatusLine(const SplashSnapshot& state) {
  std::string line;
  if (state.stageVisible) line += platform::GbkToUtf8(state.stageText);
  if (state.fillVisible) line += "  " + std::to_string(state.fillWidth * 100 / Launcher::kProgressFullWidth) + "%";
  if (state.sizeVisible && !state.sizeText.empty()) line += "  " + state.sizeText;
  if (state.speedVisible && !state.speedText.empty()) line += "  " + state.speedText;
  return line;
}

// Stage text without its animated dots: what a log (not a terminal) needs to see change.
std::string WithoutDots(const SplashSnapshot& state) {
  std::string text = state.stageText;
  while (!text.empty() && text.back() == '.') text.pop_back();
  return text + "|" + state.sizeText.substr(0, state.sizeText.find('/'));
}

}  // namespace

int RunTerminalFrontEnd(const FrontEndHooks& hooks) {
  static platform::TerminalDialogs dialogs(stdin, stderr);
  platform::SetCurrentDialogs(&dialogs);
  const bool interactive = isatty(fileno(stderr)) != 0;

  hooks.startFlow();
  FramePacer pacer(platform::PerformanceFrequency(), platform::PerformanceCounter());
  std::uint64_t shownVersion = 0;
  std::string lastLogged;
  for (;;) {
    double dt = 0;
    const std::int64_t now = platform::PerformanceCounter();
    if (!pacer.FrameDue(now, &dt)) {
      // Nothing but the next frame can change the line: sleep until it is due.
      platform::SleepMs(pacer.MillisecondsUntilDue(now));
      continue;
    }
    hooks.updateStageText(dt);
    const SplashSnapshot state = hooks.splash->Snapshot();
    if (state.version == shownVersion || dialogs.Open()) continue;
    shownVersion = state.version;
    if (interactive) {
      std::fprintf(stderr, "\r\033[K%s", StatusLine(state).c_str());
    } else if (WithoutDots(state) != lastLogged) {
      lastLogged = WithoutDots(state);
      std::fprintf(stderr, "%s\n", StatusLine(state).c_str());
    }
    std::fflush(stderr);
  }
}

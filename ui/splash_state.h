// What the launcher's stages show on the splash: texts, visibility and the fill width.
//
// Stage threads write here; the window thread takes a snapshot at the start of each frame
// and applies it to the drawables. One lock guards it, so a frame never sees a half-changed
// text, and no worker ever touches an element the frame loop reads.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

struct SplashSnapshot {
  std::uint64_t version = 0;  // grows with every change that alters something
  std::string stageText;      // GBK
  bool stageVisible = true;
  bool fillVisible = true;
  int fillWidth = 0;
  std::string speedText;  // GBK
  bool speedVisible = true;
  std::string sizeText;  // GBK
  bool sizeVisible = true;
  bool closeVisible = false;
};

class SplashState {
 public:
  void SetStageText(const std::string& text) { Change(&SplashSnapshot::stageText, text); }
  void SetStageVisible(bool visible) { Change(&SplashSnapshot::stageVisible, visible); }
  void SetFillVisible(bool visible) { Change(&SplashSnapshot::fillVisible, visible); }
  void SetFillWidth(int width) { Change(&SplashSnapshot::fillWidth, width); }
  void SetSpeedText(const std::string& text) { Change(&SplashSnapshot::speedText, text); }
  void SetSpeedVisible(bool visible) { Change(&SplashSnapshot::speedVisible, visible); }
  void SetSizeText(const std::string& text) { Change(&SplashSnapshot::sizeText, text); }
  void SetSizeVisible(bool visible) { Change(&SplashSnapshot::sizeVisible, visible); }
  void SetCloseVisible(bool visible) { Change(&SplashSnapshot::closeVisible, visible); }

  SplashSnapshot Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
  }
  // Copies the state into `out` only when it changed since `version`, which it then updates:
  // the frame loop asks sixty times a second, and mostly nothing has changed.
  bool SnapshotIfNewer(std::uint64_t* version, SplashSnapshot* out) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_.version == *version) return false;
    *out = state_;
    *version = state_.version;
    return true;
  }

 private:
  template <typename T>
  void Change(T SplashSnapshot::*field, const T& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_.*field == value) return;  // unchanged values do not make the splash dirty
    state_.*field = value;
    ++state_.version;
  }

  mutable std::mutex mutex_;
  SplashSnapshot state_;
};

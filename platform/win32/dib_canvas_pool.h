// The drawing targets of the splash's surfaces, kept for reuse: a memory DC holding a 32-bit
// top-down DIB section, with a GDI+ graphics on it. Every render pass of a window draws into a
// fresh surface of the window's size (the forms' too: they are placed over the whole main
// window); made afresh, that is a DC, a DIB section of two megabytes whose pages the system hands
// out and clears again, and a graphics, for the few changed glyphs of the stage text twice a
// second. A released target remembers the part of it that was drawn on, and only that part is
// cleared when it is taken again, so a reused target is all zero like a new one.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/win32/gdiplus_flat.h"
#include "ui/geometry.h"

namespace platform::win32 {

class DibCanvas {
 public:
  // Check Valid(): any of the DC, the DIB section and the graphics may fail to be made.
  DibCanvas(int width, int height);
  DibCanvas(const DibCanvas&) = delete;
  DibCanvas& operator=(const DibCanvas&) = delete;
  ~DibCanvas();

  bool Valid() const { return dc_ != nullptr && bits_ != nullptr && graphics_ != nullptr; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  HDC Dc() const { return dc_; }
  std::uint32_t* Bits() const { return bits_; }
  Gdiplus::GpGraphics* Graphics() const { return graphics_; }
  // Every pixel outside `drawn` is zero (the caller says so after it looked).
  void SetDrawn(const ui::Rect& drawn) { drawn_ = drawn; }
  // Zeroes the drawn part: the whole target is zero afterwards.
  void Clear();

 private:
  int width_;
  int height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ previousBitmap_ = nullptr;
  std::uint32_t* bits_ = nullptr;
  Gdiplus::GpGraphics* graphics_ = nullptr;
  ui::Rect drawn_;
};

class DibCanvasPool {
 public:
  // Released targets kept at most: the splash draws one window at a time, of two sizes at most.
  static constexpr std::size_t kKept = 2;

  static DibCanvasPool& Instance();
  // An all-zero target of the size, reused or new; null when one cannot be made.
  std::unique_ptr<DibCanvas> Take(int width, int height);
  void Give(std::unique_ptr<DibCanvas> canvas);

 private:
  std::mutex mutex_;
  std::vector<std::unique_ptr<DibCanvas>> kept_;  // oldest first
};

}  // namespace platform::win32

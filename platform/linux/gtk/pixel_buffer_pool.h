// Pixel memory of the splash's whole-window surfaces, kept for reuse. Every redraw of a window
// renders into a fresh surface of the window's size; allocating one afresh would make the system
// hand out and clear every page of it again, about two megabytes for a few changed glyphs. A
// released buffer remembers the part that was drawn into, and only that part is cleared when
// the buffer is taken again, so a reused buffer is all zero like a new one.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/linux/gtk/pixel_rects.h"

namespace gtk_splash {

struct PixelBuffer {
  int width = 0;
  int height = 0;
  int stride = 0;  // bytes per row, as cairo wants them for ARGB32
  ui::Rect drawn;  // every pixel outside is zero
  unsigned char* data = nullptr;

  PixelBuffer(int w, int h, int rowBytes);
  ~PixelBuffer();
  PixelBuffer(const PixelBuffer&) = delete;
  PixelBuffer& operator=(const PixelBuffer&) = delete;
  // Zeroes the drawn part; the whole buffer is zero afterwards.
  void Clear();
};

class PixelBufferPool {
 public:
  // Released buffers kept at most: a window's new content is drawn while its old one is shown.
  static constexpr std::size_t kKept = 2;

  static PixelBufferPool& Instance();
  // An all-zero buffer of the size; null when memory runs out.
  std::unique_ptr<PixelBuffer> Take(int width, int height, int stride);
  void Give(std::unique_ptr<PixelBuffer> buffer);

 private:
  std::mutex mutex_;
  std::vector<std::unique_ptr<PixelBuffer>> kept_;  // oldest first
};

}  // namespace gtk_splash

#include "platform/linux/gtk/pixel_buffer_pool.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace gtk_splash {

PixelBuffer::PixelBuffer(int w, int h, int rowBytes) : width(w), height(h), stride(rowBytes) {
  // calloc: fresh pages come zeroed from the system, untouched until drawn into.
  data =
      static_cast<unsigned char*>(std::calloc(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height), 1));
  if (!data) throw std::bad_alloc();
}

PixelBuffer::~PixelBuffer() { std::free(data); }

void PixelBuffer::Clear() {
  const std::int32_t left = std::max(drawn.x, 0);
  const std::int32_t top = std::max(drawn.y, 0);
  const std::int32_t right = std::min(drawn.x + drawn.width, width);
  const std::int32_t bottom = std::min(drawn.y + drawn.height, height);
  for (std::int32_t y = top; y < bottom && left < right; ++y) {
    std::memset(data + static_cast<std::ptrdiff_t>(y) * stride + static_cast<std::ptrdiff_t>(left) * 4, 0,
                static_cast<std::size_t>(right - left) * 4);
  }
  drawn = {};
}

PixelBufferPool& PixelBufferPool::Instance() {
  // Never destroyed: a surface may be released while the process ends.
  static auto* pool = new PixelBufferPool;
  return *pool;
}

std::unique_ptr<PixelBuffer> PixelBufferPool::Take(int width, int height, int stride) {
  std::unique_ptr<PixelBuffer> buffer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto match = std::find_if(kept_.rbegin(), kept_.rend(), [&](const auto& kept) {
      return kept->width == width && kept->height == height && kept->stride == stride;
    });
    if (match != kept_.rend()) {
      buffer = std::move(*match);
      kept_.erase(std::next(match).base());
    }
  }
  if (buffer) {
    buffer->Clear();
    return buffer;
  }
  try {
    return std::make_unique<PixelBuffer>(width, height, stride);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void PixelBufferPool::Give(std::unique_ptr<PixelBuffer> buffer) {
  if (!buffer) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (kept_.size() >= kKept) kept_.erase(kept_.begin());
  kept_.push_back(std::move(buffer));
}

}  // namespace gtk_splash

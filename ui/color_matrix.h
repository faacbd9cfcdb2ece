// The 5x5 colour matrix through which every image part is drawn.
//
// A pixel is the row vector [r g b a 1] with channels in 0..1 (not premultiplied); the result
// is that vector times the matrix, clamped to 0..1. An element's colour becomes the diagonal
// matrix (r, g, b, a, 1): opaque white leaves an image unchanged, a smaller alpha fades it,
// other colours tint it.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "ui/geometry.h"

namespace ui {

using ColorMatrix = std::array<std::array<float, 5>, 5>;

// Diagonal r, g, b, a, 1 from `color`, each channel / 255 in single precision.
inline ColorMatrix TintMatrix(Argb color) {
  ColorMatrix m{};
  m[0][0] = static_cast<float>(RedOf(color)) / 255.0f;
  m[1][1] = static_cast<float>(GreenOf(color)) / 255.0f;
  m[2][2] = static_cast<float>(BlueOf(color)) / 255.0f;
  m[3][3] = static_cast<float>(AlphaOf(color)) / 255.0f;
  m[4][4] = 1.0f;
  return m;
}

inline bool IsIdentity(const ColorMatrix& m) {
  for (std::size_t i = 0; i < 5; ++i)
    for (std::size_t j = 0; j < 5; ++j)
      if (m[i][j] != (i == j ? 1.0f : 0.0f)) return false;
  return true;
}

// One premultiplied ARGB pixel through the matrix; the result is premultiplied again.
// Backends without a native colour matrix (cairo) use it on a copy of the image part.
inline std::uint32_t ApplyColorMatrix(const ColorMatrix& m, std::uint32_t premultiplied) {
  const float a = static_cast<float>(AlphaOf(premultiplied)) / 255.0f;
  if (a <= 0.0f && m[4][3] <= 0.0f) return 0;  // transparent stays transparent unless the matrix adds alpha
  const float in[5] = {a > 0 ? static_cast<float>(RedOf(premultiplied)) / 255.0f / a : 0.0f,
                       a > 0 ? static_cast<float>(GreenOf(premultiplied)) / 255.0f / a : 0.0f,
                       a > 0 ? static_cast<float>(BlueOf(premultiplied)) / 255.0f / a : 0.0f, a, 1.0f};
  float out[4];
  for (std::size_t j = 0; j < 4; ++j) {
    float sum = 0;
    for (std::size_t i = 0; i < 5; ++i) sum += in[i] * m[i][j];
    out[j] = std::clamp(sum, 0.0f, 1.0f);
  }
  const auto channel = [&](float value) { return static_cast<std::uint8_t>(value * out[3] * 255.0f + 0.5f); };
  return MakeArgb(static_cast<std::uint8_t>(out[3] * 255.0f + 0.5f), channel(out[0]), channel(out[1]), channel(out[2]));
}

}  // namespace ui

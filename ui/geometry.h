// Pixel geometry and colours of the splash: rectangles, insets and 32-bit ARGB values.
#pragma once

#include <cstdint>

namespace ui {

struct Rect {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

// Widths of the fixed columns and heights of the fixed rows of a nine-slice image.
struct Insets {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
  friend bool operator==(const Insets&, const Insets&) = default;
};

// Drawing works in floats: scaled parts of an image land between whole pixels.
struct RectF {
  float x = 0;
  float y = 0;
  float width = 0;
  float height = 0;
  friend bool operator==(const RectF&, const RectF&) = default;
};

// Alpha in bits 24-31, red 16-23, green 8-15, blue 0-7.
using Argb = std::uint32_t;

constexpr Argb kOpaqueWhite = 0xFFFFFFFFu;
constexpr Argb kOpaqueCyan = 0xFF00FFFFu;

constexpr std::uint8_t AlphaOf(Argb c) { return static_cast<std::uint8_t>(c >> 24); }
constexpr std::uint8_t RedOf(Argb c) { return static_cast<std::uint8_t>(c >> 16); }
constexpr std::uint8_t GreenOf(Argb c) { return static_cast<std::uint8_t>(c >> 8); }
constexpr std::uint8_t BlueOf(Argb c) { return static_cast<std::uint8_t>(c); }
constexpr Argb MakeArgb(std::uint8_t a, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return (Argb{a} << 24) | (Argb{r} << 16) | (Argb{g} << 8) | Argb{b};
}

}  // namespace ui

#include "ui/slice9_layout.h"

#include <algorithm>

namespace ui {

std::array<ImagePart, 9> Slice9Parts(const Rect& element, int imageWidth, int imageHeight, const Insets& insets) {
  const float X = static_cast<float>(element.x), Y = static_cast<float>(element.y);
  const float W = static_cast<float>(element.width), H = static_cast<float>(element.height);
  const float IW = static_cast<float>(imageWidth), IH = static_cast<float>(imageHeight);
  const float Li = static_cast<float>(insets.left), Ti = static_cast<float>(insets.top);
  const float Ri = static_cast<float>(insets.right), Bi = static_cast<float>(insets.bottom);

  const float L = W > Li ? Li : W;
  const float T = H > Ti ? Ti : H;
  const float restW = std::max(W - L, 0.0f), restH = std::max(H - T, 0.0f);
  const float R = restW > Ri ? Ri : restW;
  const float B = restH > Bi ? Bi : restH;

  const float MW = W - L - R, MH = H - T - B;    // stretched middle on screen
  const float SW = IW - L - R, SH = IH - T - B;  // middle in the image

  return {{
      {{0, 0, L, T}, {X, Y, L, T}},
      {{IW - R, 0, R, T}, {X + W - R, Y, R, T}},
      {{0, IH - B, L, B}, {X, Y + H - B, L, B}},
      {{IW - R, IH - B, R, B}, {X + W - R, Y + H - B, R, B}},
      {{L, T, SW, SH}, {X + L, Y + T, MW, MH}},
      {{L, 0, SW, T}, {X + L, Y, MW, T}},
      {{L, IH - B, SW, B}, {X + L, Y + H - B, MW, B}},
      {{0, T, L, SH}, {X, Y + T, L, MH}},
      {{IW - R, T, R, SH}, {X + W - R, Y + T, R, MH}},
  }};
}

}  // namespace ui

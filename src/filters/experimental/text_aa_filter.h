#pragma once
// Anti-aliasing of text and line art: a pixel on a one-pixel step between two
// levels, recognised by how many of its edge and diagonal neighbours lie on
// the other side of the middle level, is moved part of the way towards it.
#include <cstdint>
#include <span>

namespace astrelon {

// The filtered value of centre c with its neighbours (left, right, up, down and
// the diagonals up-left, up-right, down-left, down-right); c itself when no
// rule applies.
struct TTextNeighbours {
  float L, R, U, D, UL, UR, DL, DR;
};
float TextAntiAliasPixel(float c, const TTextNeighbours& n);

// Every interior pixel of a w x h plane from `in` into `out` (a copy of it);
// pixels with a blank neighbour and the outer frame stay.
void TextAntiAliasPlane(std::span<const float> in, std::span<float> out, int32_t w, int32_t h);

}  // namespace astrelon

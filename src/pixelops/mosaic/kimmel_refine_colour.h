#pragma once
// One refinement pass of red or blue in the "Bayer, modified Kimmel"
// interpolation: at the opposite colour's sites from the diagonal neighbours, at
// green sites from the direct ones, weighted by green and by the plane's own
// opposite-neighbour difference. The pass gives the values of a single sweep in
// row order, several sites at a time on vector lanes (the scalar twin adds in
// the same order).
#include <cstdint>

namespace astrelon {

struct TKimmelColourPass {
  int32_t W = 0, H = 0;
  const float* G = nullptr;  // green
  float* C = nullptr;        // the plane refined
  int32_t Colour = 0;        // its colour: its own sites stay as they are
  const uint8_t* PixelCounts = nullptr;  // a site takes part while its count is at least Pass
  const uint8_t* RowCounts = nullptr;    // the largest count of each row
  int32_t Pass = 1;
};

// Rows 2 .. H - 3, columns 2 .. W - 3, by the first four cells of MosaicPattern.
void RefineKimmelColour(const TKimmelColourPass& pass, bool vector = true);

}  // namespace astrelon

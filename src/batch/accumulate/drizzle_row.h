#pragma once
// One row of the normalisation of a weighted accumulation: each pixel its sum
// over its weight, or with a weight short of what its neighbours lead to
// expect, the shortfall filled from the neighbours that resemble it in the
// guide plane. A scalar loop and an AVX2 twin that gives the same bits.
#include <cstdint>

namespace astrelon {

struct TDrizzleRow {
  const float* Sum = nullptr;     // the plane's sums, weights and guide, Width values a row
  const float* Weight = nullptr;
  const float* Guide = nullptr;
  float* Out = nullptr;
  int32_t Width = 0;
  double Noise = 0;       // added to every guide distance
  bool Diagonal = false;  // expected weight from the four sides and the four corners
  float Scale = 1;        // every result multiplied by this
};

// Pixels x0 <= x < x1 of interior row y (0 < y < height - 1, 0 < x0, x1 <
// width): the values the normalisation gives them (see DrizzleNormieren).
void NormaliseDrizzleRow(const TDrizzleRow& row, int64_t y, int32_t x0, int32_t x1, bool vector);

// The same for a pixel that takes no shortfall (a border pixel): its sum over
// its weight when the weight is above 0, else the sum, times the scale.
inline float NormaliseDrizzleBorder(float sum, float weight, float scale) {
  const double ownS = sum, ownW = weight;
  return float((ownW > 0 ? ownS / ownW : ownS) * scale);
}

}  // namespace astrelon

#pragma once
// A colour image built from a grey luminance image L and a colour image aligned
// onto it: the result keeps the detail and noise of L and takes the colour of
// the colour image. Faint pixels, and pixels where L is much brighter than the
// colour image predicts, are desaturated toward the luminance.
#include <array>
#include <cstdint>
#include <span>

namespace astrelon {

struct TLrgbParams {
  bool AutoScaled = false;
  float Threshold = 0.003f;  // a luminance at or below it gives a grey pixel
  float LowL = 0;            // an L at or below it gives a grey pixel
  float FloorL = -1e30f;     // lowest value of a result pixel (auto-scaled)
  double Noise2 = 0;         // twice the luminance noise (auto-scaled weight)
  double K = 1;              // level ratio of L to the luminance
};

// Per pixel i of L, the luminance lum and the three colour planes c (changed in
// place): with lum <= Threshold or L <= LowL every plane takes L (auto-scaled:
// at least FloorL). Otherwise, plain: s = L / lum, w = 1 / (0.8888888888 +
// (s / K)^2), x = (c - lum) w + lum, the result 0 for x <= 0, else s x.
// Auto-scaled: d = L - LowL, r = d / (3 lum K), w = 1.1 lum / (lum + Noise2) /
// (0.8888888888888 + r^2), s = d / lum, the result LowL for x <= 0, else
// s x + LowL, at least FloorL. A blank L stays blank, a blank colour value too.
// Single precision; an eight-pixel vector path, where the processor has it,
// gives the same bits.
void LrgbRun(std::span<const float> l, std::span<const float> lum, const std::array<std::span<float>, 3>& c,
             const TLrgbParams& params);

// K from the pixels with lum > Threshold and L > LowL: factor · Σ(L - LowL) / Σlum,
// 1 when Σlum <= 0, at least 1e-10. The sums do not depend on the thread count.
double LrgbLevelRatio(std::span<const float> l, std::span<const float> lum, const TLrgbParams& params, double factor);

// The whole combination on slots: `result` holds the aligned colour planes on
// L's grid, `luminance` their grey image (plane 1), `lImage` the L image. Plain:
// Threshold = max(0.5 noise(lum), 0.003), K with factor 3. Auto-scaled:
// Noise2 = 2 noise(lum); the lowest 0.1 % level of the three result planes less
// Threshold = max(1.5 Noise2, 0.001) is subtracted from the result planes and
// from the luminance; nL = noise(L), LowL = the 0.1 % level of L + nL,
// FloorL = LowL - 3 nL, K with factor 1. The loop covers the smaller of the
// result's and L's plane lengths. False (nothing changed) unless all three
// slots are in use, the result has three planes and the luminance one.
bool CombineLrgb(int result, int luminance, int lImage, bool autoScaled);

}  // namespace astrelon

#pragma once
// Small slot and number routines of the main window: clearing a slot's planes,
// drawing a Gaussian test star, clamps.
#include <cstdint>

namespace astrelon {

// Every plane of the slot := 0.
void ZeroAllPlanes(int slot);

// Writes a Gaussian star e^(-r²/w²) with a peak of about 10000 centred on the
// image point (cx, cy) into plane 1 of a grey slot in use: each pixel of the
// square of half-side round(4w) + 2 gets its supersampled mean times 10000
// (replacing the old value). Colour slots, and widths <= 0, are left alone.
void FillGaussianPsf(int slot, double cx, double cy, double w);

constexpr int32_t ClampWord(int32_t v) { return v < 0 ? 0 : (v > 65535 ? 65535 : v); }
constexpr int32_t Clamp400000(int32_t v) { return v < 0 ? 0 : (v > 400000 ? 400000 : v); }

}  // namespace astrelon

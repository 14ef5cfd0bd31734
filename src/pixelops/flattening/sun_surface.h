#pragma once
// Removal of the limb darkening of a sun image: the mean radial brightness
// profile of the disc divides every pixel.
#include <array>
#include <optional>
#include <span>

#include "kernels/alignment/bright_disc.h"

namespace astrelon {

// The smoothed radial profile S[0..205] of the disc in the slot's measuring
// plane: S[k] for the ring at k/199 of the semi-axes (199 is the limb), from the
// 60 % value of the ring's valid samples. A ring without valid samples takes the
// value of the nearest inner ring with some (the innermost rings that of the
// first ring with some). nullopt when no ring has a valid sample.
std::optional<std::array<double, 206>> SunSurfaceProfile(int slot, const TBrightDisc& disc);

// The profile in the form the pixel loop uses (single precision).
struct TSunFactorTable {
  std::array<float, 206> Profile{};
  float Centre = 0;   // S[0]
  float Outside = 0;  // S[0] / S[199] (at least 0.001)
};
TSunFactorTable MakeSunFactorTable(const std::array<double, 206>& profile);

// The factor of each pixel of a row: S[0] / S(r) inside the limb (S(r)
// interpolated between rings, at least 0.001), beyond it S[0] / S[199] times a
// weight that falls from 1 at the limb to 0 at relative radius 204; r is the
// square root of columnTerm[x] + rowTerm. The vector path gives the same bits.
void SunSurfaceFactors(std::span<const float> columnTerm, float rowTerm, const TSunFactorTable& table,
                       std::span<float> factor, bool vector);

// Divides every valid pixel of the slot's selected planes by the profile at its
// relative radius, scaled to the centre's brightness; beyond the limb the sky
// fades to 0 within five profile steps. False (the slot unchanged) when the
// profile cannot be measured.
bool FlattenSunSurface(int slot, const TBrightDisc& disc);

}  // namespace astrelon

#pragma once
// The accuracy test of the position measurement on synthetic stars: a
// Gaussian star is moved in tenths of a pixel along a row and a column of a
// noisy test image and measured at every step.
#include <cstdint>

namespace astrelon {

struct TShiftSweepSettings {
  double StarRadius = 2.0;  // width of the Gaussian star
  double Noise = 0.1;       // noise level (standard deviation / 100)
  double SubPixel = 0.0;    // fraction of a pixel added to the fixed coordinate
  bool IsMosaic = false;    // measure as an undebayered colour mosaic
};

// testSlot and resultSlot hold one-plane images of at least 200 x 120 pixels.
// The stars are drawn into testSlot; the method is the shift-method switch
// (0: star centroid, 1: block matching against a reference star that
// resultSlot holds while the sweeps run). resultSlot ends as a picture of the
// errors: per step a mark of 6000 on the zero line and one of 10000 displaced
// by 20 times the error. Returns the sum of the squared errors of both sweeps.
double RunShiftFindingSweeps(int testSlot, int resultSlot, const TShiftSweepSettings& settings, uint64_t seed);

}  // namespace astrelon

#pragma once
// What a dark subtraction measures before it changes any pixel: the dark's
// scale factor, the 30 % levels of the dark planes and the threshold offsets of
// their hot pixels, run side by side.
#include <array>
#include <span>

namespace astrelon {

struct TDarkMeasures {
  double Scale = 1.0;               // the dark's factor k (1 without temperature compensation)
  std::array<double, 4> Level{};    // per dark plane: its 30 % level (temperature compensation)
  std::array<float, 4> HotOffset{}; // per dark plane: noise x 1.5 x "Hotpixel Sigma" (hot-pixel repair)
};

// The measures of the dark planes `darkPlanes` (1..3) that a subtraction with
// these options needs. The figures are those of ComputeDarkScale,
// GetPercentileLevels and EstimateNoise called one after another in the order
// scale, then per plane level and noise; the levels clamp values above 1e18
// in the dark, and every measure reads the dark as that order leaves it.
TDarkMeasures MeasureDark(int imageSlot, int darkSlot, std::span<const int> darkPlanes, bool temperatureCompensation,
                          bool hotPixelRepair);

}  // namespace astrelon

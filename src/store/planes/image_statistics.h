#pragma once
// Statistics of image planes: percentile levels, background, border percentiles,
// noise estimates and counts of valid and blank pixels.
#include <cstdint>
#include <span>

namespace astrelon {

struct TPercentileLevels {
  double LevelA = 0;
  double LevelB = 0;
  float RectMin = 0;
  float RectMax = 0;
};

// Levels of a rectangle (inclusive bounds) of a plane at two percentages (0..100),
// from a 65536-bin histogram over the rectangle's range. A rectangle without valid
// pixels gives the plane's minimum for both levels.
void GetPercentileLevels(int slot, int plane, int x1, int x2, int y1, int y2, double pctA, double pctB,
                         TPercentileLevels& levels);

// The 5 % level of the whole plane.
float GetBackgroundLevel(int slot, int plane = 1);

// Percentile (fraction 0..1) of the valid pixels on the outer border of the plane;
// 0 when the slot is not in use or the plane is empty, -1e11 without valid border pixels.
double GetBorderPercentile(int slot, int plane, double fraction);

// The same for a 32 x 32 window (row-major): its top and bottom rows and the first
// and last column of rows 1..30; `storedLevel` when none of them is valid.
float GetCutoutBorderPercentile(std::span<const float> window32, float storedLevel, double fraction);

// Noise of a plane: EstimateNoiseClipped over the plane (its floors in levels
// of `unit`); a plane above 1 that holds fewer than 2 values falls back to
// plane 1.
float EstimatePlaneNoise(int slot, int plane, double unit = 1.0);

// Noise of a plane from the clipped mean square of differences of pixels two apart.
float EstimateNoise(int slot, int plane);
// The same for the values of a plane that no slot holds.
float EstimateNoise(std::span<const float> values);

// Number of valid pixels of the plane (0 for an empty plane).
int64_t CountValidPixels(int slot, int plane);

// True when any plane 1..PlaneCount of the slot holds a blank pixel.
bool HasBlankPixels(int slot);

}  // namespace astrelon

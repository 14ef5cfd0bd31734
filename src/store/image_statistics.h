#pragma once
// Statistics of image planes: percentile levels, background, noise, counting,
// sorting and robust means.
#include <cstdint>

namespace astrelon {

struct TPercentileLevels {
  double LevelA = 0;
  double LevelB = 0;
  float RectMin = 0;
  float RectMax = 0;
};

// Levels of a rectangle (inclusive bounds) of a plane at two percentages (0..100).
void GetPercentileLevels(int slot, int plane, int x1, int x2, int y1, int y2, double pctA, double pctB,
                         TPercentileLevels& levels);

}  // namespace astrelon

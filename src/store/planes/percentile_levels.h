#pragma once
// Percentile levels of a rectangle whose minimum and maximum are known.
#include <cstdint>
#include <span>

#include "store/planes/image_statistics.h"

namespace astrelon {

// Levels of a rectangle at two percentages (0..100). The minimum and maximum
// come from RectMinMax (which clamps values above 1e18 in place). Valid pixels
// go into 65536 bins, Round((v - mn) * 65000 / range) with range =
// max(mx - mn, 0.001); the levels are found walking the bins: below 50 upwards
// from bin 0 until the count reaches Round(count * pct) div 100, from 50 on
// downwards from bin 65000 until the rest is no more than that. Sets LevelA and
// LevelB (bin / scale + mn), RectMin and RectMax when the rectangle holds valid
// pixels; leaves `levels` alone otherwise.
// The scalar path counts the bins (rectangles under 65536 pixels walk them by
// groups of 256); the vector path finds the same bins from order statistics
// (TLevelSelection) from 8192 pixels on.
void RectPercentileLevels(std::span<float> rect, int32_t w, int32_t h, int64_t stride, double pctA, double pctB,
                          TPercentileLevels& levels, bool vector);

// The same levels for pixels given as distinct values and how often each occurs
// (values[i] counts[i] times; entries with count 0 are not there): the levels
// of a plane read from 8- or 16-bit samples by counting their codes.
void CountedValueLevels(std::span<const float> values, std::span<const uint64_t> counts, double pctA, double pctB,
                        TPercentileLevels& levels);

}  // namespace astrelon

#pragma once
// The statistic of each pixel of a stack over its frames: the frames' valid
// values of the pixel (in frame order) combined by the method, plus the level
// that brings the result to the median level of all frames.
#include <cstddef>
#include <cstdint>
#include <span>

#include "registration/stacking/combine_image_stack.h"

namespace astrelon {

// Sigma leaves out values further than this many robust deviations (1.4826
// times the median absolute deviation) from the median before RobustMean, when
// a pixel has at least StackOutlierMinFrames values. Of ordinary (normal)
// values it drops one, an extreme one, in 2.7 % of the pixels of eight frames,
// 1.8 % of twelve, 1.3 % of sixteen; fewer frames give too unsteady a
// deviation (4 % of four frames, 11 % of five).
constexpr double StackOutlierDeviations = 5.0;
constexpr size_t StackOutlierMinFrames = 8;

// The statistic of one pixel's valid values (the span is reordered): RobustMean
// for Sigma (of the values within StackOutlierDeviations of the median, when
// there are StackOutlierMinFrames or more and they spread), MeanWithoutExtremes for Mittelmed,
// Percentile at 0.5 otherwise.
float StackValuesStatistic(TStackMethod method, std::span<float> values);

// out[x] for x = 0 .. pixels - 1: the statistic of frames[i][x] over the frames
// whose value is valid, plus `level`; blank where no frame is valid. The vector
// path takes the median of eight pixels at a time through a sorting network
// where all their values are valid; it gives the same values as the scalar path.
void CombineStackPixels(TStackMethod method, std::span<const float* const> frames, int32_t pixels, float level,
                        float* out, bool vector);

}  // namespace astrelon

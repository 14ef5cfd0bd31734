#pragma once
// The weight of a frame from the quality values of its marks: values far from
// their mean (beyond a rejection level of k standard deviations, k by the value
// count as in RobustMean) lower the weight.
#include <cstdint>

namespace astrelon {

// Empties the frame's value list and makes room for n values.
void StartFrameStatistics(int32_t n);
// Appends a value while the list has room.
void AddFrameStatistic(float value);
// Values in the list.
int32_t FrameStatisticCount();

// The weight factor of the listed values, 1.0 when nothing is known (fewer than
// two distinct values, or a mean at or below 1e-10). The rejection level
// s = k sigma / mean is relative to the mean; with `accumulate` it enters the
// run's average, and once the run has one, that average is the level used. The
// weight is the product, over the values whose deviation from the mean exceeds
// s times the mean, of s times the mean over that deviation.
float BildgewichtAusStatistik(bool accumulate);

// Clears the run's average of rejection levels (a new run).
void ResetFrameWeightRun();

}  // namespace astrelon

#pragma once
// Statistics of arrays of values: percentiles, sorting, the mean without extremes
// and the outlier-rejecting mean.
#include <cstdint>
#include <span>
#include <vector>

namespace astrelon {

// Sorts the values ascending in place and returns the value at the fraction (0..1)
// of the way from the smallest to the largest, interpolated linearly. One value:
// that value; none: -1e11.
float Percentile(std::span<float> values, double fraction);

// The same value as Percentile, found by selection (a histogram of the value
// range for long runs of finite values): the values may be reordered, not sorted.
float PercentileSelect(std::span<float> values, double fraction);
// The same with the values expected mostly in [hintLow, hintHigh] (a guess that
// only speeds up the search: the result is the same whatever it is).
float PercentileSelect(std::span<float> values, double fraction, float hintLow, float hintHigh);

// The median of the values (of an even count the upper middle one).
double Median(std::vector<double> values);

// Sorts values[lo..hi] ascending in place (NaN last).
void SortFloats(std::span<float> values, int64_t lo, int64_t hi);

// Sorts the indices so that the values they point to ascend (equal values keep
// their order).
void SortIndices(std::span<const float> values, std::span<int32_t> indices);

// (sum - largest - smallest) / (n - 2); two values: their mean; one: the value;
// none: -1e11.
float MeanWithoutExtremes(std::span<const float> values);

// Mean of the values within a count-dependent number of standard deviations of
// the centre, after dropping the largest and smallest value when they lie
// outside. One value: that value, two: their mean (variance not written in
// either case); none: -1e11. Uses the SSE2 path when Sse2Enabled; both give the
// same result.
float RobustMean(std::span<const float> values, double* variance = nullptr);
float RobustMean(std::span<const float> values, double* variance, bool vector);

// Common logarithm of n = 1..4096 from the single-precision table built once.
float Log10Table(int32_t n);

// The per-count factor of RobustMean's clipping, in standard deviations: base +
// log10(n) from the table for n up to 4096, `beyond` for larger n.
double OutlierClipFactor(int64_t n, double base, double beyond);

}  // namespace astrelon

#pragma once
// The running percentile of the masked flattening: for a pixel of a line (a
// row, or a column read with the row stride), the percentile of the line's
// values at offsets a, a + step, ... <= b, each pulled toward the pixel's own
// value by a Gaussian weight of its offset (or raw, in mask mode).
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace astrelon {

using TPercentileWeights = std::array<float, 256>;

// The window of offsets a..b around position x of a line of n values for half
// width h: -h..h where it fits. Near the start of the line it takes every value
// before x and 1 + h div 5 more after it (at most h); near the end every value
// after x and 1 + h div 5 more before it (at most h, not before the start).
void PercentileWindow(int32_t x, int32_t n, int32_t h, int32_t& a, int32_t& b);

// Percentile (Percentile's interpolation) of the valid values centre[d * stride]
// for d = a, a + step, ... <= b, each (v - c0) * w[|d|] + c0; blank when no
// value is valid.
float WeightedPercentile(const float* centre, ptrdiff_t stride, int32_t a, int32_t b, int32_t step, float c0,
                         const TPercentileWeights& w, double fraction, std::vector<float>& samples);

// The same with raw values, for mask mode: offsets up to b (exclusive when
// `open`, but the first offset always), values unmasked at `mask` (at the
// centre, or null) only.
float RawPercentile(const float* centre, const uint8_t* mask, ptrdiff_t stride, int32_t a, int32_t b, bool open,
                    int32_t step, double fraction, std::vector<float>& samples);

// WeightedPercentile for `count` neighbouring pixels first[0..count) of a row,
// each weighted toward its own value, all with the window a..b: results (blank
// for a blank pixel) into out[0..count). `vector` lets eight pixels at a time be
// done with AVX2 where their values are all valid; the results are those of
// WeightedPercentile.
void WeightedPercentileRun(const float* first, ptrdiff_t stride, int32_t count, int32_t a, int32_t b, int32_t step,
                           const TPercentileWeights& w, double fraction, bool vector, float* out,
                           std::vector<float>& samples);

}  // namespace astrelon

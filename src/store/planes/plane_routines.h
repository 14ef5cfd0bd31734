#pragma once
// Low-level loops over runs and rectangles of float planes. Routines with a
// `vector` argument have a scalar path and an SSE2 path that give the same results.
// A rectangle is given by a view starting at its first pixel, its width and height
// and the row stride (pixels between the starts of two rows); the view must reach
// the last pixel of the last row (std::invalid_argument otherwise).
#include <cstddef>
#include <cstdint>
#include <span>

#include "store/planes/interpolation_kernels.h"
#include "store/planes/min_max_scan.h"

namespace astrelon {

// Smallest and largest valid pixel; values above 1e18 are replaced by 1e18 in the
// buffer; no valid pixel (or only values of 1e18 and above) gives min 0, max 1.0.
void RectMinMax(std::span<float> data, int32_t w, int32_t h, int64_t stride, float& min, float& max, bool vector);
// Adds a rectangle to the scan, clamping values above 1e18 in place as RectMinMax does.
void ScanMinMax(std::span<float> data, int32_t w, int32_t h, int64_t stride, TMinMaxScan& scan, bool vector);
// Sum (accumulated in double) and number of the valid pixels.
void RectSum(std::span<const float> data, int32_t w, int32_t h, int64_t stride, double& sum, int64_t& count,
             bool vector);

// Resamples a line of src.size() values to dst.size() values with the kind's
// tabulated kernel; blank sources are skipped, an output without enough weight
// (0.1 or less) is blank.
void ResampleLine(std::span<const double> src, std::span<double> dst, TInterpolationKind kind);

// Percentage (integer-divided) of the valid values that lie strictly above the
// threshold; 0 without valid values.
int32_t PercentAbove(std::span<const float> data, float threshold);
// The counts behind it, which add up over parts of the data.
struct TAboveCount {
  int64_t Valid = 0;
  int64_t Above = 0;
  int32_t Percent() const;
};
TAboveCount CountAbove(std::span<const float> data, float threshold);

// Noise level of a run from the clipped mean square of neighbour differences;
// its floors count in levels of `unit` (1: levels of the values themselves).
float EstimateNoiseClipped(std::span<const float> data, bool vector, double unit = 1.0);

// Centre (in rectangle coordinates) and mean of the (2r+1) x (2r+1) window with the
// brightest mean of valid pixels; windows that leave the rectangle are not
// considered. Without a winning window: the rectangle's centre and -1e9.
// Exhaustive search, or with `spiral` rings outward from the centre that stop
// once they grow darker than the best by more than the noise.
void FindBrightestPixel(std::span<const float> data, int32_t w, int32_t h, int64_t stride, int32_t r, int32_t& x,
                        int32_t& y, float& value, bool spiral);

// Copies w x h values row by row (the rectangles must not overlap); nothing when h < 1.
void CopyRect32(std::span<const float> src, std::span<float> dst, int32_t w, int32_t h, int64_t srcStride,
                int64_t dstStride);

// Writes the value into every 32-bit word of p.
void FillDwords(std::span<uint32_t> p, bool vector, uint32_t value);
void FillDwords(std::span<float> p, bool vector, float value);
// Clears every byte of p.
void ZeroBytes(std::span<std::byte> p, bool vector);

// Per pixel where a and b are both valid: mode 1 a + b, mode 2 a - b, mode 3
// a * factor + b; where either is blank dst := a. Other modes leave dst unchanged.
void CombinePlanes(std::span<const float> a, std::span<const float> b, std::span<float> dst, int32_t w, int32_t h,
                   int64_t aStride, int64_t bStride, int64_t dstStride, int32_t mode, float factor);

}  // namespace astrelon

#pragma once
// The sums of a master's plain mean: a frame's value counts at a pixel only
// while the pixel's sum, the value and (with a flat-dark) the dark's value are
// all valid; the mean is the sum over the count, 0 where nothing counted. Both
// ways of building the mean (frames loaded into slots, frames read row by row
// from their FITS files) add with these, frame after frame in list order, so
// that they give the same floats.
#include <cstddef>
#include <cstdint>

namespace astrelon {

// Adds w values of a frame row (minus the dark row when there is one). The
// vector paths (SSE2, AVX2) give the same sums and counts as the scalar one.
void AddRowToMean(float* sum, int16_t* count, const float* frame, const float* dark, int32_t w, bool vector);

// The mean of n pixels from their sums and counts, in place.
void DivideMean(float* sum, const int16_t* count, size_t n);

}  // namespace astrelon

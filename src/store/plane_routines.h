#pragma once
// Low-level loops over rectangles of float planes, each with a scalar path and an
// SSE2 path (chosen by `vector`) that give the same results.
// A rectangle is given by a view starting at its first pixel, its width and height
// and the row stride (pixels between the starts of two rows).
#include <cstdint>
#include <span>

namespace astrelon {

// Smallest and largest valid pixel; values above 1e18 are replaced by 1e18 in the
// buffer; no valid pixel gives min 0, max 1.0.
void RectMinMax(std::span<float> data, int32_t w, int32_t h, int64_t stride, float& min, float& max, bool vector);
// Sum (accumulated in double) and number of the valid pixels.
void RectSum(std::span<const float> data, int32_t w, int32_t h, int64_t stride, double& sum, int64_t& count,
             bool vector);

}  // namespace astrelon

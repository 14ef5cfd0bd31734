#pragma once
// Defect pixels pulled back into the noise band of their eight neighbours.
#include <cstdint>
#include <span>

namespace astrelon {

// One plane (width x height, row-major) in place over the rectangle's pixels
// that are not on the image's one-pixel border, row by row, left to right: a
// pixel c whose squared distance to the mean m of its eight neighbours exceeds
// s² = (0.1 + Σ squared differences of the eight adjacent ring pairs) / 4 is
// clamped to m ± (s + t), t being the ring's curvature (only its part on the
// pixel's side). A corrected pixel takes part in the tests of later pixels;
// blank pixels take part like any value. `vector` tests eight pixels at a
// time where the processor has it and goes on after the first that changes,
// which gives the same bits.
void SmoothDefectPixelsPlane(std::span<float> plane, int32_t width, int32_t height, int32_t x1, int32_t y1,
                             int32_t x2, int32_t y2, bool vector = true);

// Every plane of the slot, the planes side by side.
void SmoothDefectPixels(int slot, int32_t x1, int32_t y1, int32_t x2, int32_t y2, bool vector = true);

}  // namespace astrelon

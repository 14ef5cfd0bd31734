#pragma once
// Isophote lines: white lines along the borders of eight brightness steps.
#include <cstdint>
#include <span>

namespace astrelon {

// On an 8-bit picture (rows of `stride` bytes), in place, in reading order; the
// result is the same with bands of rows on any number of threads.
void DrawIsophotes(std::span<uint8_t> pixels, int32_t width, int32_t height, int64_t stride, int threads = 1);

// On a float plane holding 0..65535, with steps of 8192 and the line value 65535.
void DrawIsophotesOnPlane(std::span<float> plane, int32_t width, int32_t height);

}  // namespace astrelon

#pragma once
// The low-pass model of the source in the sinc variant of the "hi-f" two-times
// enlargement: every line is filtered with the dSinc kernel stretched to twice
// its width (the kernel at half the distance), falling back to the stretched
// bicubic kernel over a short window where the pixel lies away from the
// window's largest step, so that a distant edge does not ring into it.
#include <cstdint>
#include <span>

namespace astrelon {

// One line of n values into `out`: for each x the window x - 15 .. x + 16
// (clipped) with dSinc, or x - 3 .. x + 4 with the bicubic kernel when twice
// the largest step |v(x'+1) - v(x')| (of two valid values) within 3 of x, less 0.1, lies below the
// largest step of the window's inner part (from its start + 4 to its end - 4);
// out[x] = sum K((x' - x) / 2) v(x') / sum K over the window's valid values
// when that sum exceeds 0.1, else out[x] is left.
void SincLowPassLine(const float* in, int32_t n, float* out);

// The plane filtered along its rows into a buffer that starts blank, then down
// the columns of that buffer back into the plane (a pixel without weight keeps
// its value). Lines run in bands on all cores.
void SincLowPass(std::span<float> plane, int32_t w, int32_t h);

}  // namespace astrelon

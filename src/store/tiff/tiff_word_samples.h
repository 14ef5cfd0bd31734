#pragma once
// The 16-bit samples a TIFF row is written with: each value v of the slot's
// plane(s) becomes FloatToWordSample(float((v - low) x factor)), computed in
// double and rounded to float as the writer does; colour rows interleave red,
// green and blue. Vector paths (SSE2, AVX2) give the same samples as the scalar one.
#include <cstddef>
#include <cstdint>

namespace astrelon {

// n pixels from `planes` (1 for grey, 3 for colour) into n x planes samples.
void WordSamplesOfRow(const float* const* planes, int planeCount, size_t n, double low, double factor,
                      uint16_t* out, bool vector);

}  // namespace astrelon

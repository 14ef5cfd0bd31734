#pragma once
// The automatic interference filter's passes on one plane of a 2D spectrum:
// coefficients that stand out of their ring of spatial frequency are lowered
// toward a reference taken along a short line of their neighbours.
#include <cstdint>
#include <span>

namespace astrelon {

// Filters one spectrum plane in place: `width` values a row (real parts in
// columns 0 .. width/2 − 1, imaginary parts width/2 columns to the right),
// vertical frequency 0 in row height/2; k as given (not clamped). The rows run
// in tiles on up to `threads` threads; every count gives the same values,
// and so does the vector path (`vector`, where the processor has it).
void FilterPeriodicNoisePlane(std::span<float> plane, int32_t width, int32_t height, double k, int threads,
                              bool vector);

// The same on several planes of width × height values each, one after the
// other, with the working buffers made once.
void FilterPeriodicNoisePlanes(std::span<float* const> planes, int32_t width, int32_t height, double k, int threads,
                               bool vector);

}  // namespace astrelon

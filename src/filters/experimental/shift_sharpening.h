#pragma once
// Shift sharpening: edges are steepened without amplifying noise by sampling
// every pixel from a slightly shifted position, so that pixels near an edge
// take the values of the plateau beside it. The shift comes either from the
// gradient of the edge strength or from counting similar neighbours. Both work
// on a grey copy of the source (the luma of a colour image) held as a plane of
// their own, and resample every plane with linear interpolation; the outer
// one-pixel frame and blank pixels keep the source values.
#include <cstdint>
#include <span>
#include <vector>

namespace astrelon {

// Sobel gradient magnitude of a w x h plane at its interior pixels; 0 on the
// outer frame and where a pixel of the 3 x 3 neighbourhood is blank.
std::vector<float> SobelMagnitude(std::span<const float> grey, int32_t w, int32_t h);
// The same for one row `c` of width w between the rows `u` above and `d`
// below; `vector` takes four pixels at a time with the bits of the scalar path.
void SobelRow(const float* u, const float* c, const float* d, float* out, int32_t w, bool vector);

// Every plane of `destination` (made as a copy of `source`) resampled at the
// shifts: along the gradient of the Sobel magnitude (SharpenByGradientShift) or
// by similar neighbours (ShiftSharpenImage), scaled by `strength` and clamped to
// +-maximumShift. False (nothing changed) when the slots do not match.
bool SharpenByGradientShift(int source, int destination, double maximumShift, double strength);
bool ShiftSharpenImage(int source, int destination, double maximumShift, double strength);

}  // namespace astrelon

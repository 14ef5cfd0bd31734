#pragma once
// Resampling a row of an image at small per-pixel shifts with linear
// interpolation: the cell of a shift within one pixel is picked from the 3 x 3
// neighbourhood, so that four pixels go together in vector registers.
#include <array>
#include <cstdint>

#include "kernels/sampling/subpixel_window_sums.h"

namespace astrelon {

struct TShiftPlanes {
  std::array<TPlaneView, 3> View{};  // the source planes
  std::array<float*, 3> Out{};       // the destination planes, same size
  int Count = 0;                     // planes in use
};

// The value of a plane at (x + dx, y + dy) for an interior pixel (x, y): with
// |dx|, |dy| <= 1 and a valid 3 x 3 neighbourhood the cell's four pixels
// weighed as l + (r - l) f along the row, then between the two rows, so that a
// shift of 0 returns the pixel itself; otherwise the program's blank-aware
// linear sampler.
float SampleShifted(const TPlaneView& v, int32_t x, int32_t y, float dx, float dy);

// Columns 1 .. width - 2 of row y of every plane: the destination gets
// SampleShifted at the shift (dx[x], dy[x]) where the source pixel is valid.
// `vector` takes four pixels at a time where all their shifts lie within one
// pixel and their neighbourhoods are valid, with the bits of the scalar path.
void ResampleShiftedRow(const TShiftPlanes& p, int32_t y, const float* dx, const float* dy, bool vector);

}  // namespace astrelon

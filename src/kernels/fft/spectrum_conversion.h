#pragma once
// Conversions and measures of spectrum slots (column layout of width N + 2):
// real/imaginary ↔ amplitude/phase, the power next to zero frequency and the
// power in the corners of the highest frequencies.
#include <cstdint>

namespace astrelon {

// In place, every plane: column k (k < width/2) gets √(re² + im²), column
// width/2 + k gets ArcTan2(im, re).
void ConvertToAmplitudePhase(int slot);
// The reverse: re = amplitude·cos(phase), im = amplitude·sin(phase).
void ConvertToRealImaginary(int slot);

// Mixed-radix spectrum: the largest power |F|² among bins (1, 0), (0, +1),
// (0, −1) and, with includeZero, (0, 0). 0 for a slot that is no spectrum.
double CentrePeak(int slot, int plane, bool includeZero);

// Mean power over two triangles of the highest frequencies: with d = height/8,
// row j (0 .. d) from the top and from the bottom, columns N/2 − d + j .. N/2;
// 0 when nothing is counted.
double CornerPower(int slot, int plane);

}  // namespace astrelon

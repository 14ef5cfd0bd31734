#pragma once
// 2D spectra of power-of-two lengths (convolution with a point-spread image,
// frequency-response matching): the same column layout as the mixed-radix
// family (width N + 2), vertical bin r in row r, optionally an extra row M
// repeating row 0. Rows and columns are padded by the taper towards their start
// (PreparePow2Line) and may start at an offset, so that a chosen pixel becomes
// the origin.
#include <cstdint>

namespace astrelon {

// The spectrum of every plane of `source` in the lowest free slot, rows starting
// at `startColumn` and columns at `startRow`: the new slot, or a value below 1
// when no slot is free or the source is not usable. std::bad_alloc (nothing
// changed) when it does not fit in memory.
int ImageToFft2DPow2(int source, int32_t startColumn, int32_t startRow, bool extraRow);

// The image of a power-of-two spectrum in `destination` (below 1: the lowest
// free slot) for the planes of the channel selection (the others get the
// spectrum's corner); output row j is row (rowShift + j) mod M of the inverse,
// column j column (columnShift + j) mod N. −1 when no slot is free or the slot
// is not a spectrum of its recorded size; a recorded size of 3 or less returns
// `destination` and writes nothing.
int FftToImage2DPow2(int spectrum, int destination, int32_t columnShift, int32_t rowShift);

}  // namespace astrelon

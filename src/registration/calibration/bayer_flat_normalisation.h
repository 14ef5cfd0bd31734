#pragma once
// Flat normalisation of a one-plane colour-mosaic master flat: the levels of its
// three channel classes scaled to the green level.
#include <cstdint>

namespace astrelon {

// Channel classes of a mosaic with green phase ph: 0 green ((x + y) mod 2 = ph),
// 1 the other cells of odd rows, 2 the other cells of even rows.
int MosaicClass(int32_t x, int32_t y, int phase);

// Flat normalisation of the one-plane mosaic `result` (a copy of `source`):
// each class's valid pixels are scaled to the green level, the RAW channel
// multipliers become 1.0. Returns the classes (0..2) whose mean was not above
// 0 (kept at factor 1.0) as bits.
uint32_t NormalizeBayerFlat(int source, int result);

}  // namespace astrelon

#pragma once
// The pieces of a network filter run on one plane: the network's prediction at
// each pixel of the working rectangle, and the result pixels made from them.
#include <array>
#include <cstdint>
#include <span>

#include "filters/network/network_inputs.h"
#include "kernels/network/network_weights.h"
#include "store/image_slot.h"

namespace astrelon {

// How a filter network's outputs become pixels.
enum class TNetworkFilterKind {
  Blocks,      // four outputs for the 2 x 2 block at each pixel, blended where blocks overlap
  Mean,        // 41-input networks (types 6, 16): the pixel gets the mean of the four outputs
  ThreeInput,  // 3-input colour networks (types 7, 17): one pixel, all planes at once
};
TNetworkFilterKind NetworkFilterKind(int32_t type);

// One plane of a run: the source, the plane, the network's layout and the
// scaling of values. Rows and columns are image coordinates; the rectangle
// holds the pixels (Mean, ThreeInput) or blocks (Blocks) that are evaluated.
struct TNetworkFilterPlane {
  const TImageSlot* Source = nullptr;
  int Plane = 1;
  int32_t Type = 1;
  int32_t InputTop = 36;
  int32_t Current = 0;
  double Mid = 0;    // (maximum + minimum) / 2 of the source
  double Scale = 1;  // half the value range times the strength
  float Floor = 0;   // no result lies below it
  int32_t X1 = 0, X2 = -1, Y1 = 0, Y2 = -1;
};

// The pixels of a 2 x 2 block relative to its first: straight, and as a
// turned training sample sees them.
using TBlockOffsets = std::array<TInputOffset, 4>;
inline constexpr TBlockOffsets StraightBlock{{{0, 0}, {1, 0}, {0, 1}, {1, 1}}};

// The base the prediction at (x, y) is made around: 0.9 v + 0.1 mid for types
// 1, 6 and 16, mid for 3-input networks, else 0.1 mid + 0.225 times the sum of
// the block's four pixels (a blank or missing one counting as v); v is the
// pixel, mid when it is blank.
double NetworkFilterBase(const TNetworkFilterPlane& f, int32_t x, int32_t y,
                         const TBlockOffsets& block = StraightBlock);

// The predictions of row y, four values per pixel x = X1..X2 into `out`:
// Blocks the four outputs o_k = y_k * Scale + base; Mean the pixel value in
// out[0]; ThreeInput the red, green and blue values in out[0..2] (a grey image
// its value in out[1]).
void PredictNetworkRow(const TNetworkFilterPlane& f, int32_t y, std::span<float> out, TNetworkPass& pass);

// Row py of the result in `row` (the destination's row, a copy of the source's
// on entry). Blocks: every pixel of the rectangle grown by one column and row
// takes, in block order, the outputs of the up to four blocks covering it (the
// blocks of rows py - 1 and py, their predictions in `above` and `current`,
// empty when that block row lies outside the rectangle). The other kinds:
// the pixels X1..X2 of row py from `current`. No value is written below the
// floor. `plane` selects the colour of a ThreeInput network (1..3).
void WriteNetworkRow(const TNetworkFilterPlane& f, int32_t py, std::span<const float> above,
                     std::span<const float> current, int plane, std::span<float> row);

}  // namespace astrelon

#pragma once
// The input vector of a network at one pixel: the neighbourhood of the pixel in
// one plane, relative to an offset and in units of a scale, in the layout of
// the network's input count.
#include <cstdint>

#include "kernels/network/network_weights.h"
#include "store/image_slot.h"

namespace astrelon {

// Fills pass.X[0..N] for pixel (x, y) of plane `plane` (1..3) of `im`, each
// value as (value - offset) / scale:
// - N = 20: the 5 x 5 square without its corners in reading order (index 10
//   the centre); positions outside the image and blank pixels give 0.
// - N = 36: the disc dx^2 + dy^2 <= 10 (0 the centre, 1..8 the 3 x 3 ring,
//   9..20 the 5 x 5 ring without corners, 21..36 the rest, each in reading
//   order); N = 40 adds the centre pixel's values in planes 1..3 (a grey
//   image's one value three times) and plane - 2; N = 60 adds the means of 24
//   regions around the disc at 37..60. N below 5: x[0..2] the centre pixel's
//   three plane values.
// Inputs without a valid pixel inside the image keep `fill`. With `clip` the
// values beyond the 3 x 3 part (and the region means) deviate from the offset
// by at most 1.8 times the largest deviation of the 3 x 3 part (diagonal
// neighbours weighted 1.41).
void EvalNetworkAt(const TImageSlot& im, int plane, int32_t x, int32_t y, int32_t N, double offset, double scale,
                   bool clip, float fill, TNetworkPass& pass);

// The same on a slot of the image store, into the engine's own record.
void EvalNetworkAt(int slot, int plane, int32_t x, int32_t y, int32_t N, double offset, double scale, bool clip,
                   float fill);

// The layout's offsets: input i of the disc lies at DiscOffsets[i] (dx, dy);
// input i of the 21-input layout at SquareOffsets[i]. Region r (37..60) of a
// position (dx, dy) with |dx|, |dy| <= 6: RegionAt(dx, dy), 0 outside every
// region.
struct TInputOffset {
  int8_t Dx = 0, Dy = 0;
};
extern const TInputOffset DiscOffsets[37];
extern const TInputOffset SquareOffsets[21];
int32_t RegionAt(int32_t dx, int32_t dy);

}  // namespace astrelon

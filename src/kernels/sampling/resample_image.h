#pragma once
// Resampling an image slot in place to a new width and height, independently per
// axis: block and box averaging and the anti-moiré low-pass for reductions, and
// one-dimensional interpolation with an interpolation kind.
#include <cstdint>

#include "store/image_slot.h"

namespace astrelon {

// Sides of this many pixels or more are refused.
constexpr int32_t ResampleSizeLimit = 32768;

// The size of a side of n pixels scaled by ratio: Trunc(2 n ratio + 0.1) div 2.
int32_t ScaledSide(int32_t n, double ratio);

// Changes the planes, width and height of `slot` (header, statistics and window
// are the caller's). With sizesGiven the factors follow from newWidth and
// newHeight, else the sizes from ratioX and ratioY. Nothing changes unless both
// factors are positive, both sides lie in 1..32767, the kind is 0..4 and the
// slot holds an image; std::bad_alloc, with nothing changed, when an
// enlargement does not fit in the free memory. `kind` is the program-wide kind
// during the call.
// antiMoire: a shrinking axis is low-passed with the stretched kernel;
// boxFilter: shrinking axes are averaged over blocks and boxes instead.
void ResampleImage(int slot, int32_t kind, int32_t newWidth, double ratioX, double ratioY, int32_t newHeight,
                   bool sizesGiven, bool antiMoire, bool boxFilter);
// The same on an image record of the caller's that no slot holds.
void ResampleImage(TImageSlot& image, int32_t kind, int32_t newWidth, double ratioX, double ratioY, int32_t newHeight,
                   bool sizesGiven, bool antiMoire, bool boxFilter);

}  // namespace astrelon

#pragma once
// A smooth bias image from a master dark (grey, or per colour of a one-plane
// colour mosaic): the master halved, freed of hot pixels, smoothed by the
// non-local-means filter and resampled back to its size.
#include <array>
#include <cstdint>

#include "filters/noise/nlm_filter.h"

namespace astrelon {

// Bias images are filtered at this smaller side or below (grey: halved while
// the smaller side is 501 or more; mosaic channels: while above 300).
constexpr int32_t BiasHalvingLimitGrey = 501;
constexpr int32_t BiasHalvingLimitChannel = 300;

// The non-local-means settings of a bias image over the whole of `destination`:
// patch radius 2, search radius 6, strength 300, smooth-gradient mode.
void BiasNoiseFilterParams(int source, int destination, TNLMParams& params);

// Value of a halved pixel from the four source values of its 2 x 2 cell: the
// mean without the largest value for three or four valid values, the plain
// mean for one or two, `resampled` when none is valid.
float BiasCellValue(const std::array<float, 4>& cell, float resampled);

// destSlot := sourceSlot resampled to half width and height, every pixel then
// recomputed from its 2 x 2 source cell (BiasCellValue), in every plane.
void HalveBiasImage(int sourceSlot, int destSlot);

// Halves `slot` in place (HalveBiasImage through a copy) while its smaller side
// is `halveFrom` or more. False when no slot was free for the copy.
bool HalveBiasImageFrom(int slot, int32_t halveFrom);

// Grey bias image: `result` holds a copy of `source`; it is halved while its
// smaller side is >= 501, freed of hot pixels, filtered by the non-local-means
// filter (smooth-gradient mode) and resampled back to the source's size.
// False when no slot was free for the work images (result unchanged then).
bool MakeBiasImage(int source, int result);

// Mosaic bias image: `result` holds a copy of the one-plane mosaic `source`;
// each of the three colours is taken out into an image of (W div 2) x (H div 2),
// smoothed as above (halved while above 300) and written back into its own cells.
bool MakeBayerBiasImage(int source, int result);

}  // namespace astrelon

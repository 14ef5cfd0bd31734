#pragma once
// The first image of a run whose loaded shift list lost its reference image
// (the selection of the best images dropped it): the image is resampled in
// place onto the listed reference positions, so that it and every later image
// share the lost reference's grid.
#include <span>

#include "core/batch_series.h"

namespace astrelon {

// Resamples the slot through the current alignment points (A the reference,
// B the slot's own; multipoint: the pairs) onto the reference's grid, keeping
// its size; pixels the image does not reach become blank. False when no slot
// is free for the copy it samples from.
bool ResampleOntoListedReference(int slot, int32_t marks, std::span<const TMarkPair> pairs);

// The same first image in Bayer-special mode: the mosaic in the slot is added
// into the prepared colour target through its listed points (multipoint: the
// pairs, fitted against a copy of it), so that the target takes the lost
// reference's grid. False when no slot is free for the copy.
bool AddListedReferenceMosaic(int slot, int32_t marks, std::span<const TMarkPair> pairs);

}  // namespace astrelon

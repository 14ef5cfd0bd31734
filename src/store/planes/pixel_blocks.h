#pragma once
// A pass over every pixel of a slot that rewrites some of its planes: the pixels
// go in blocks to worker bands (each pixel is computed the same way whatever the
// split), and the written planes are measured block by block while the block is
// still in the cache, so that the pass needs no second sweep for UpdateMinMax.
#include <array>
#include <cstddef>
#include <functional>

#include "store/image_slot.h"
#include "store/planes/min_max_scan.h"

namespace astrelon {

// Calls fn(first, count) for blocks covering the pixels 0 .. PixelCount() - 1 of
// `im`, then scans planes 1..planes of the block (values above 1e18 are clamped
// as UpdateMinMax does). The scans, merged over all blocks, go to
// SetMinMaxFromScans; their entries above `planes` stay empty. Several threads
// unless the "Multicores" option is off.
std::array<TMinMaxScan, 4> TransformPixelBlocks(TImageSlot& im, int planes,
                                                const std::function<void(size_t first, size_t count)>& fn);

}  // namespace astrelon

#pragma once
// The corrections of the "hi-f" two-times enlargement after its detail
// transfer: the direction map is smoothed, then three passes pull over- and
// undershooting pixels along edges towards the mean of their neighbours in
// the edge's direction.
#include <cstdint>
#include <functional>
#include <span>

#include "filters/enlargement/hif_tables.h"
#include "store/image_slot.h"

namespace astrelon {

// One pass in place, each cell from the values before the pass: every inner
// cell takes the class whose weights (bits 3..7) add up highest over its 3 x 3
// neighbourhood (the lowest class on a tie); a cell whose sums are all 0 stays.
void SmoothDirectionMap(std::span<uint8_t> map, int32_t w, int32_t h);

// The three correction passes (offset factors 0, 1, 2) on each plane of
// `result` (twice the size of `source`, whose pixels give each 2 x 2 block its
// target mean), with the direction classes of `map` (a byte per source pixel
// for tri, per result pixel for sinc) and the value range `range` (c is 0.005
// times it). Each pass works in place in row order over the result pixels 4 ..
// size - 5. poll(plane, pass) runs after each row; false stops the passes (the
// function then returns false).
bool CorrectEdges(const TImageSlot& source, TImageSlot& result, std::span<const uint8_t> map, THiFVariant variant,
                  double range, const std::function<bool(int plane, int pass)>& poll);

}  // namespace astrelon

#pragma once
// The plain computation of the wavelet noise filter on rows of a level: each
// pixel becomes the weighted mean of its centre c0 (weight 1) and its valid
// neighbours v, weighted a T / (|v - c0| + T) with a = 1 for the four direct
// neighbours, 0.71 for the four diagonal ones and 0.4 for the four two pixels
// away along the axes; a blank centre stays blank. The neighbours are added in
// that order (left, right, up, down; up-left, up-right, down-left, down-right;
// then the far ones likewise).
//
// A weight depends only on the pair of pixels and the tap's a, which the
// opposite tap shares, so each pair's weight is worked out once and serves both
// pixels. The vector path works four pixels side by side in double with the
// same operations in the same order as the scalar one, hence the same bits.
#include <cstdint>
#include <span>

namespace astrelon {

// Filters the pixels x = 2 .. w-3 of rows first .. last-1 (each within 2 ..
// h-3) of a level of w x h values into out (the same layout); other values of
// out stay as they are.
void PlainMeanRows(std::span<const float> level, int32_t w, int32_t h, int32_t first, int32_t last, double t,
                   std::span<float> out, bool vector);

}  // namespace astrelon

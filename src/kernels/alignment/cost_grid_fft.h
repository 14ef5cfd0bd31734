#pragma once
// The costs of every placement of a block-matching grid at once, through
// correlations computed as products of spectra: for each cell the variance of
// the differences over the valid pixel pairs, as BlockMatchCost gives it up to
// rounding.
#include <cstdint>
#include <span>
#include <vector>

namespace astrelon {

// `ref` holds the w x h reference block row by row; `region` holds the
// (w + nx − 1) x (h + ny − 1) pixels of the second image that the nx x ny
// cells cover (cell (i, j) places the block's top-left pixel at region pixel
// (i, j)), rows `stride` values apart. Pixels of the region that lie outside
// the image are given as 0: cells reading them are not asked for. Returns the
// costs row by row (cell (i, j) at j * nx + i); a cell without any valid pair
// gets NoBlockMatchCost. `vector` lets the transforms run several lines side by
// side (the same results).
//
// `precision` says how a grid without blank values (one correlation, the rest
// sums) transforms: in double precision, or in single precision, which is
// faster and moves the costs by the float rounding of the correlation (about
// 1e-7 of the blocks' spread of values times the pairs). Grids with blank
// values always transform in double precision.
enum class TGridPrecision { Double, Single };
std::vector<double> BlockMatchCostGrid(std::span<const float> ref, int32_t w, int32_t h,
                                       std::span<const float> region, int64_t stride, int32_t nx, int32_t ny,
                                       bool vector, TGridPrecision precision = TGridPrecision::Double);

}  // namespace astrelon

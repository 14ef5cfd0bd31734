#pragma once
// "Lineare Interpolation" of the colour-mosaic conversion, for any pattern of
// two or four rows and any cell colours: for each pattern phase and output
// channel, the mean of every 3 x 3 kernel of fixed small coefficients that sees
// exactly that channel of the cells around the pixel.
#include <array>
#include <cstdint>

#include "kernels/mosaic/mosaic_settings.h"
#include "pixelops/mosaic/mosaic_workers.h"

namespace astrelon {

// The channels (red, green, blue) that each TMosaicColor carries.
inline constexpr std::array<std::array<int32_t, 3>, MosaicColorCount> MosaicChannelTable{
    {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 1, 1}, {1, 0, 1}, {1, 1, 0}}};
// The values of the coefficient codes 0 to 4 of the kernel search.
inline constexpr std::array<double, 5> LinearCoefficientValues{0.0, 0.5, 1.0, -0.5, -1.0};

// The summed kernels of one pattern phase and channel, and how many were summed.
struct TLinearKernel {
  std::array<std::array<double, 3>, 3> Sum{};  // [row -1, 0, +1][column -1, 0, +1]
  int32_t Count = 0;
};
// [row phase 0..3][column phase 0..1][channel R, G, B]
using TLinearKernels = std::array<std::array<std::array<TLinearKernel, 3>, 2>, 4>;

// The kernel search over all 5^6 coefficient combinations for the row phases
// 0 .. rowMask of the pattern `cells` (cell of row r and column parity c at r*2 + c).
TLinearKernels LinearMosaicKernels(const TMosaicCells& cells, int32_t rowMask);

// Method 0 for the workers: one stage, rows 1 .. height - 2 and columns
// 1 .. width - 2 of the source mosaic into the destination's three planes laid
// out (width - 2) values a row; the caller then cuts the planes to that size.
TMosaicWorkerMethod LinearMosaicMethod(const TMosaicStage& job);

}  // namespace astrelon

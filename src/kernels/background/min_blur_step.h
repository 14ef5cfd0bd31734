#pragma once
// One step of MinBlur on plain planes: every pixel becomes the weighted mean of
// itself and eight neighbours at a reach (the axes at the reach, the diagonals
// at the rounded reach * sin 45). Near the image's edges the window shrinks so
// that it stays centred on the pixel: a pixel closer to an edge than the reach
// takes its distance to the nearest edge, rounded down to a multiple of four
// (so that four neighbouring pixels share a window), as its reach; at least 1,
// and on the border only the pair of neighbours along the edge counts (in a
// corner none). A one-sided window would pull the estimate toward the image's
// inside and leave the gradient there; a centred one keeps a linear gradient.
#include <array>
#include <cstdint>
#include <span>

namespace astrelon {

// The window of one reach r: k = round(r sin 45) (at least 1), diagonal weight
// wd = r sin 45 / k, axial weight 1, centre weight (4 wd + 4) * scale.
struct TMinBlurStencil {
  int32_t Reach = 1, K = 1;
  double Diagonal = 1, Centre = 0;
  std::array<int32_t, 8> Dx{}, Dy{};
  std::array<double, 8> Weight{};
};
TMinBlurStencil MinBlurStencil(int32_t reach, float scale);

// One step of `work` into `out` (all width x height): reach |reach|, rejecting
// when reach < 0 (a pixel below `reference` keeps weight 1 alone, and only
// neighbours at or above their reference value count); blank pixels give
// blank results and never count. Rows are split over the processors; `vector`
// lets the AVX2 path run, which gives the scalar path's bits.
void MinBlurStepPlane(std::span<const float> reference, std::span<const float> work, std::span<float> out,
                      int32_t width, int32_t height, float scale, int32_t reach, bool vector);

}  // namespace astrelon

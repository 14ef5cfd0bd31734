#pragma once
// One step of MinBlur on plain planes: every pixel becomes the weighted mean of
// itself and eight neighbours at a reach (the axes at the reach, the diagonals
// at the rounded reach * sin 45). A neighbour outside the image does not
// count, so near the edges the window keeps the neighbours on the image's side.
#include <array>
#include <cstdint>
#include <span>

namespace astrelon {

// The window of one reach r: k = round(r sin 45), diagonal weight
// wd = r sin 45 / k, axial weight 1, centre weight (4 wd + 4) * scale. The
// neighbours in the order (-k, -k), (0, -r), (k, -k), (-r, 0), (r, 0), (-k, k),
// (0, r), (k, k).
struct TMinBlurStencil {
  int32_t Reach = 1, K = 1;
  double Diagonal = 1, Centre = 0;
  std::array<int32_t, 8> Dx{}, Dy{};
  std::array<double, 8> Weight{};
};
TMinBlurStencil MinBlurStencil(int32_t reach, float scale);

// One step of `work` into `out` (all width x height): reach |reach| (at least
// 1), rejecting when reach < 0 (a pixel below `reference` keeps weight 1
// alone, and only neighbours at or above their reference value count); blank
// pixels give blank results and never count. Rows are split over the
// processors; `vector` lets the AVX2 and AVX-512 paths run, which give the
// scalar path's bits.
void MinBlurStepPlane(std::span<const float> reference, std::span<const float> work, std::span<float> out,
                      int32_t width, int32_t height, float scale, int32_t reach, bool vector);

// Two steps in one pass, reach1 then reach2 (each signed as above), with the
// bits of two MinBlurStepPlane calls: each band of rows makes the first step's
// rows within |reach2| of its own in a ring of rows, so that the intermediate
// plane is never written to memory and read back.
void MinBlurStepPairPlane(std::span<const float> reference, std::span<const float> work, std::span<float> out,
                          int32_t width, int32_t height, float scale, int32_t reach1, int32_t reach2, bool vector);

// Whether a pair of steps is worth running in one pass: each thread's rows of
// the first step and its ring fit in its share of the cache, and its band of
// rows is long beside the rows it makes twice.
bool MinBlurPairFits(int32_t width, int32_t height, int32_t reach1, int32_t reach2);

}  // namespace astrelon

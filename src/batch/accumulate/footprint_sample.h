#pragma once
// The sampler of the weighted accumulations: a pixel is taken as a drop of
// 0.6 pixel, so a position between pixels takes the pixels whose drops cover
// it, each with the product of its row and column weights; the weights are
// not normalised and their sum says how well the position is covered.
#include <algorithm>
#include <cstdint>

#include "store/image_slot.h"

namespace astrelon {

// 1 / 0.6: the drop's weights fall by this per pixel of distance.
constexpr double DropScale = 1 / 0.6;

// FootprintSample at a position whose four pixels around lie inside the
// plane (0 <= x < width - 1, 0 <= y < height - 1): the same sums in the same
// order, without the edge tests.
inline double FootprintSampleInside(const float* plane, int32_t width, double y, double x, double& weight) {
  const int64_t x0 = int64_t(x), y0 = int64_t(y);
  const double fx = x - double(x0), fy = y - double(y0);
  // Weights of 0 where a row or column takes no part; no branches, since the
  // fractions vary from pixel to pixel.
  const double r0 = std::max(0.0, 1 - fy * DropScale), r1 = std::max(0.0, (fy - 0.4) * DropScale);
  const double c0 = std::max(0.0, 1 - fx * DropScale), c1 = std::max(0.0, (fx - 0.4) * DropScale);
  const float* a = plane + size_t(y0) * size_t(width) + size_t(x0);
  const float v[4] = {a[0], a[1], a[width], a[width + 1]};
  const double k[4] = {r0 * c0, r0 * c1, r1 * c0, r1 * c1};
  double sum = 0, w = 0;
  for (int i = 0; i < 4; ++i) {
    const bool valid = IsValidPixel(v[i]);
    const double ki = valid ? k[i] : 0.0;
    sum += ki * (valid ? double(v[i]) : 0.0);
    w += ki;
  }
  weight = w;
  return w > 0 ? sum : double(BlankPixel);
}

// The weighted sum of a plane (width x height values, row-major) at (x, y) and
// the sum of the weights in `weight`: row y0 = floor(y) takes part with 1 -
// fy / 0.6 while fy < 0.6, row y0 + 1 with (fy - 0.4) / 0.6 while fy > 0.4,
// and likewise the columns (column x0 while fx <= 0.6, x0 + 1 while fx >=
// 0.4); blank pixels and pixels outside the plane take no part. Nothing taking
// part gives -1e11 and weight 0.
double FootprintSample(const float* plane, int32_t width, int32_t height, double y, double x, double& weight);

// The weight of the last InterpolierterPixelwert.
extern double SampleWeight;
// FootprintSample of plane `plane` of a slot, the weight left in SampleWeight.
double InterpolierterPixelwert(int slot, int plane, double y, double x);

}  // namespace astrelon

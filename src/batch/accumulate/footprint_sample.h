#pragma once
// The sampler of the weighted accumulations: a pixel is taken as a drop of
// 0.6 pixel, so a position between pixels takes the pixels whose drops cover
// it, each with the product of its row and column weights; the weights are
// not normalised and their sum says how well the position is covered.
#include <cstdint>

namespace astrelon {

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

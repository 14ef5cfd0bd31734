#include "batch/accumulate/footprint_sample.h"

#include <cmath>

#include "store/image_store.h"

namespace astrelon {

double SampleWeight = 0;

double FootprintSample(const float* plane, int32_t width, int32_t height, double y, double x, double& weight) {
  if (x >= 0 && y >= 0 && x < width - 1 && y < height - 1) return FootprintSampleInside(plane, width, y, x, weight);
  const double fy0 = std::floor(y), fx0 = std::floor(x);
  const double fy = y - fy0, fx = x - fx0;
  const int64_t y0 = int64_t(fy0), x0 = int64_t(fx0);
  const double rows[2] = {1 - fy * DropScale, (fy - 0.4) * DropScale};
  const double cols[2] = {1 - fx * DropScale, (fx - 0.4) * DropScale};
  const bool rowUsed[2] = {fy < 0.6, fy > 0.4};
  const bool colUsed[2] = {fx <= 0.6, fx >= 0.4};
  double sum = 0;
  weight = 0;
  for (int r = 0; r < 2; ++r) {
    const int64_t yy = y0 + r;
    if (!rowUsed[r] || yy < 0 || yy >= height) continue;
    for (int c = 0; c < 2; ++c) {
      const int64_t xx = x0 + c;
      if (!colUsed[c] || xx < 0 || xx >= width) continue;
      const float v = plane[size_t(yy) * size_t(width) + size_t(xx)];
      if (!IsValidPixel(v)) continue;
      const double w = rows[r] * cols[c];
      if (!(w > 0)) continue;
      sum += w * v;
      weight += w;
    }
  }
  if (weight <= 0) {
    weight = 0;
    return BlankPixel;
  }
  return sum;
}

double InterpolierterPixelwert(int slot, int plane, double y, double x) {
  SampleWeight = 0;
  if (!SlotInUse(slot)) return BlankPixel;
  const TImageSlot& im = Store.Image[size_t(slot)];
  if (plane < 1 || plane > im.PlaneCount || im.Planes[size_t(plane)].size() < im.PixelCount()) return BlankPixel;
  return FootprintSample(im.Planes[size_t(plane)].data(), im.Width, im.Height, y, x, SampleWeight);
}

}  // namespace astrelon

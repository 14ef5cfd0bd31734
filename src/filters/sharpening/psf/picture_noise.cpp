#include "filters/sharpening/psf/picture_noise.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "filters/sharpening/psf/psf_star_check.h"
#include "store/image_store.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

float SmoothedNoiseOfPlane(std::span<const float> plane, int32_t w, int32_t h) {
  if (w < StarCutoutSize || h < StarCutoutSize || plane.size() < size_t(w) * size_t(h)) return 0;
  const int64_t across = w / StarCutoutSize, down = h / StarCutoutSize;
  // Every k-th window of the tiling, row by row.
  const int64_t k = std::max<int64_t>(1, (across * down + OwnNoiseWindows - 1) / OwnNoiseWindows);
  std::vector<double> noise;
  TStarCutout window;
  for (int64_t t = 0; t < across * down; t += k) {
    const int32_t x0 = int32_t(t % across) * StarCutoutSize, y0 = int32_t(t / across) * StarCutoutSize;
    for (int y = 0; y < StarCutoutSize; ++y)
      for (int x = 0; x < StarCutoutSize; ++x)
        window.At(1, x, y) = plane[size_t(int64_t(y0 + y) * w + x0 + x)];
    const TPsfPeak m = MeasurePsfPeak(window, 1, false);
    if (m.Noise > 0) noise.push_back(m.Noise);
  }
  return noise.empty() ? 0.0f : float(Median(noise));
}

bool CutoutOfPlane(const TStarCutout& cutout, int q, std::span<const float> plane, int32_t w, int32_t h) {
  if (plane.size() < size_t(w) * size_t(h)) return false;
  bool any = false;
  double offset = 0;
  for (int y = 0; y < StarCutoutSize; ++y)
    for (int x = 0; x < StarCutoutSize; ++x) {
      const float c = cutout.At(q, x, y);
      const int64_t ix = int64_t(cutout.OriginX) + x, iy = int64_t(cutout.OriginY) + y;
      const bool inside = ix >= 0 && iy >= 0 && ix < w && iy < h;
      const float v = inside ? plane[size_t(iy * w + ix)] : BlankPixel;
      if (IsValidPixel(c) != IsValidPixel(v)) return false;
      if (!IsValidPixel(c)) continue;
      const double o = double(v) - double(c);
      if (!any) offset = o;
      any = true;
      // The levelled cutout's values are rounded to floats: a few of their
      // last bits apart.
      if (std::fabs(o - offset) > 1e-5 * (std::fabs(double(v)) + std::fabs(offset)) + 1e-30) return false;
    }
  return any;
}

std::array<float, 4> PsfOwnNoise(const TStarCutout& cutout, int slot) {
  std::array<float, 4> noise{};
  if (!SlotInUse(slot)) return noise;
  const TImageSlot& im = Store.Image[size_t(slot)];
  for (int q = 1; q <= std::clamp(cutout.PlaneCount, 1, 3); ++q) {
    if (q > im.PlaneCount) continue;
    const std::span<const float> plane = im.Planes[size_t(q)];
    if (CutoutOfPlane(cutout, q, plane, im.Width, im.Height))
      noise[size_t(q)] = SmoothedNoiseOfPlane(plane, im.Width, im.Height);
  }
  return noise;
}

}  // namespace astrelon

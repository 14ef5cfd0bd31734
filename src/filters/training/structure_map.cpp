// The largest |p - centre| in a window is the larger of (window maximum -
// centre) and (centre - window minimum); the window's minimum and maximum come
// from a pass along the rows and one down the columns.
#include "filters/training/structure_map.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr float NoLow = std::numeric_limits<float>::infinity();

// Minimum and maximum of the valid values of the 7 positions from `first`
// in steps of `step`; +inf and -inf when there is none.
inline void SevenMinMax(const float* first, ptrdiff_t step, float& lo, float& hi) {
  lo = NoLow;
  hi = -NoLow;
  for (int k = 0; k < 7; ++k) {
    const float v = first[k * step];
    if (!IsValidPixel(v)) continue;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
}

}  // namespace

TStructureMap BuildStructureMap(int slot) {
  TStructureMap map;
  if (!SlotInUse(slot)) return map;
  const TImageSlot& im = Store.Image[size_t(slot)];
  const double range = double(im.MaxValue) - double(im.MinValue);
  if (!(range > 0) || !std::isfinite(range)) return map;
  const int32_t w = im.Width, h = im.Height;
  map.Width = w;
  map.Height = h;
  map.Bytes.assign(im.PixelCount(), 0);
  if (w < 7 || h < 7) return map;
  // The largest deviation at each pixel over the planes.
  std::vector<double> deviation(im.PixelCount(), 0.0);
  std::vector<float> rowLo(im.PixelCount()), rowHi(im.PixelCount());
  for (int p = 1; p <= std::min(im.PlaneCount, 3); ++p) {
    const float* plane = im.Planes[size_t(p)].data();
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 3; x + 3 < w; ++x) {
        const size_t i = size_t(y) * size_t(w) + size_t(x);
        SevenMinMax(plane + i - 3, 1, rowLo[i], rowHi[i]);
      }
    for (int32_t y = 3; y + 3 < h; ++y)
      for (int32_t x = 3; x + 3 < w; ++x) {
        const size_t i = size_t(y) * size_t(w) + size_t(x);
        const float c = plane[i];
        if (!IsValidPixel(c)) continue;
        float lo = NoLow, hi = -NoLow;
        for (int32_t k = -3; k <= 3; ++k) {
          const size_t j = i + size_t(ptrdiff_t(k) * w);
          lo = std::min(lo, rowLo[j]);
          hi = std::max(hi, rowHi[j]);
        }
        double& d = deviation[i];
        if (hi >= lo) d = std::max({d, double(hi) - c, double(c) - lo});
      }
  }
  for (int32_t y = 3; y + 3 < h; ++y)
    for (int32_t x = 3; x + 3 < w; ++x) {
      const size_t i = size_t(y) * size_t(w) + size_t(x);
      map.Bytes[i] = uint8_t(std::nearbyint(std::min(215.0 * deviation[i] / range, 215.0)) + 40);
    }
  return map;
}

}  // namespace astrelon

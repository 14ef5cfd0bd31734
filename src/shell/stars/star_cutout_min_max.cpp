#include "shell/stars/star_cutout_min_max.h"

#include <algorithm>

#include "store/image_slot.h"

namespace astrelon {

void CutoutMinMax(TStarCutout& cutout) {
  const int planes = std::clamp(cutout.PlaneCount, 1, 3);
  cutout.MinValue = 1e20f;
  cutout.MaxValue = -1e20f;
  for (int p = 1; p <= planes; ++p) {
    float lo = 1e20f, hi = -1e20f;
    for (float v : cutout.Planes[size_t(p - 1)])
      if (IsValidPixel(v)) lo = std::min(lo, v), hi = std::max(hi, v);
    cutout.PlaneMin[size_t(p)] = lo;
    cutout.PlaneMax[size_t(p)] = hi;
    if (lo < 1e19f) cutout.MinValue = std::min(cutout.MinValue, lo);
    if (hi > -1e19f) cutout.MaxValue = std::max(cutout.MaxValue, hi);
  }
}

}  // namespace astrelon

#include "pixelops/pixels/logarithm.h"

#include <algorithm>
#include <cmath>

#include "kernels/regions/rect_runs.h"

namespace astrelon {

void TakeLogarithm(int slot) {
  if (!SlotInUse(slot)) return;
  UpdateMinMax(slot);
  const TImageSlot& im = Store.Image[size_t(slot)];
  const TPlaneList planes = SelectedChannels(slot);
  double lo = 1e9, hi = -1e9;
  for (int32_t p : planes.Planes()) {
    lo = std::min(lo, double(im.PlaneMin[size_t(p)]));
    hi = std::max(hi, double(im.PlaneMax[size_t(p)]));
  }
  const double range = hi - lo;
  // log10(range + 1) is 0 for a constant image; its values all become 0 then.
  const double factor = range > 0 ? range / std::log10(range + 1) : 0.0;
  ForEachRectRun(slot, planes, WorkRect, [&](int32_t, std::span<float> run) {
    for (float& v : run)
      if (IsValidPixel(v)) v = float(std::log10(std::max(double(v) - lo + 1, 1.0)) * factor);
  });
}

}  // namespace astrelon

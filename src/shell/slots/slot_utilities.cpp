#include "shell/slots/slot_utilities.h"

#include <algorithm>
#include <cmath>

#include "shell/main/main_services.h"
#include "store/image_store.h"

namespace astrelon {

void ZeroAllPlanes(int slot) {
  if (!SlotInUse(slot)) return;
  for (int p = 1; p <= Store.Image[size_t(slot)].PlaneCount; ++p) FillPlane(slot, p, 0.0f);
}

void FillGaussianPsf(int slot, double cx, double cy, double w) {
  if (!SlotInUse(slot) || !(w > 0) || w > 1e4) return;
  TImageSlot& img = Store.Image[size_t(slot)];
  if (img.IsColor || img.Planes[1].size() < img.PixelCount()) return;
  constexpr double E = 2.718281828459;
  const int32_t R = int32_t(std::nearbyint(4 * w)) + 2;
  const double fx = cx - std::trunc(cx), fy = cy - std::trunc(cy);
  const int64_t x0 = int64_t(std::trunc(cx)), y0 = int64_t(std::trunc(cy));
  for (int32_t dy = -R; dy <= R; ++dy)
    for (int32_t dx = -R; dx <= R; ++dx) {
      const int64_t x = x0 + dx, y = y0 + dy;
      if (x < 0 || y < 0 || x >= img.Width || y >= img.Height) continue;
      const double d = std::sqrt(double(dx) * dx + double(dy) * dy);
      const int n = std::clamp(int(std::nearbyint(100.0 / (d * (w + 0.5) + 1))), 1, 10);
      const double q = 1.0 / n;
      double sum = 0;
      for (int j = 0; j < n; ++j) {
        const double sy = dy - fy + (j + 0.5) * q;
        for (int i = 0; i < n; ++i) {
          const double sx = dx - fx + (i + 0.5) * q;
          sum += std::pow(E, -(sx * sx + sy * sy) / (w * w));
        }
      }
      img.Planes[1][size_t(y * img.Width + x)] = float(sum * 10000 * q * q);
    }
}

}  // namespace astrelon

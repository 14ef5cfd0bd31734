#include "pixelops/smooth_defect_pixels.h"

#include <algorithm>
#include <cmath>

#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "store/image_store.h"

namespace astrelon {

void SmoothDefectPixelsPlane(std::span<float> plane, int32_t width, int32_t height, int32_t x1, int32_t y1,
                             int32_t x2, int32_t y2) {
  if (width < 3 || height < 3 || plane.size() < size_t(width) * size_t(height)) return;
  const int32_t xa = std::max(x1, 1), xb = std::min(x2, width - 2);
  const int32_t ya = std::max(y1, 1), yb = std::min(y2, height - 2);
  const size_t w = size_t(width);
  for (int32_t y = ya; y <= yb; ++y) {
    float* up = plane.data() + (size_t(y) - 1) * w;
    float* row = up + w;
    float* down = row + w;
    for (int32_t x = xa; x <= xb; ++x) {
      const double tl = up[x - 1], t = up[x], tr = up[x + 1];
      const double l = row[x - 1], r = row[x + 1];
      const double bl = down[x - 1], b = down[x], br = down[x + 1];
      const double c = row[x];
      const double m = (tl + t + tr + l + r + bl + b + br) * 0.125;
      const auto sq = [](double v) { return v * v; };
      const double s2 = (0.1 + sq(tl - t) + sq(t - tr) + sq(tr - r) + sq(r - br) + sq(br - b) + sq(b - bl) +
                         sq(bl - l) + sq(l - tl)) *
                        0.25;
      if (!(sq(c - m) > s2)) continue;
      const double s = std::sqrt(s2);
      const double curve = (l - (tl + bl) * 0.5) + (r - (tr + br) * 0.5) + (t - (tl + tr) * 0.5) + (b - (bl + br) * 0.5);
      if (c <= m) {
        const double low = m - s + std::min(curve, 0.0);
        if (c < low) row[x] = float(low);
      } else {
        const double high = m + s + std::max(curve, 0.0);
        if (c > high) row[x] = float(high);
      }
    }
  }
}

void SmoothDefectPixels(int slot, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  if (!SlotInUse(slot)) return;
  TImageSlot& im = Store.Image[size_t(slot)];
  const int planes = std::clamp(im.PlaneCount, 1, 3);
  // The planes do not meet: each runs on a thread of its own.
  ForEachBand(planes, Options.Multicore ? planes : 1, [&](int64_t first, int64_t last) {
    for (int64_t p = first + 1; p <= last; ++p)
      SmoothDefectPixelsPlane(im.Planes[size_t(p)], im.Width, im.Height, x1, y1, x2, y2);
  });
}

}  // namespace astrelon

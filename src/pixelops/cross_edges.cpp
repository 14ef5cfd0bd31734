#include "pixelops/cross_edges.h"

#include <cmath>

#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "store/image_store.h"

namespace astrelon {

void CrossEdges(int source, int destination) {
  if (destination < 1 || !SlotInUse(source) || !SlotInUse(destination)) return;
  const TImageSlot& s = Store.Image[size_t(source)];
  TImageSlot& d = Store.Image[size_t(destination)];
  if (s.PlaneCount < 1 || s.Width != d.Width || s.Height != d.Height || d.PlaneCount < s.PlaneCount) return;
  const size_t w = size_t(s.Width);
  const int32_t h = s.Height;
  for (int p = 1; p <= s.PlaneCount; ++p) {
    if (s.Planes[size_t(p)].size() < s.PixelCount() || d.Planes[size_t(p)].size() < d.PixelCount()) continue;
    // Working in place reads from a copy of the plane.
    TPlane copy;
    if (source == destination) copy.assign(s.Planes[size_t(p)].begin(), s.Planes[size_t(p)].end());
    const float* in = source == destination ? copy.data() : s.Planes[size_t(p)].data();
    float* out = d.Planes[size_t(p)].data();
    const int threads = BandThreads(h, 64, Options.Multicore != 0 && s.PixelCount() >= (size_t(1) << 18));
    ForEachBand(h, threads, [&](int64_t first, int64_t last) {
      for (int64_t y = first; y < last; ++y) {
        float* row = out + size_t(y) * w;
        for (size_t x = 0; x < w; ++x)
          if (IsValidPixel(row[x])) row[x] = 0.0f;
        if (y + 1 >= h) continue;
        const float* top = in + size_t(y) * w;
        const float* bottom = top + w;
        for (size_t x = 0; x + 1 < w; ++x) {
          const float a = top[x], b = top[x + 1], c = bottom[x], e = bottom[x + 1];
          if (IsValidPixel(a) && IsValidPixel(b) && IsValidPixel(c) && IsValidPixel(e))
            row[x] = std::sqrt((a - e) * (a - e) + (b - c) * (b - c));
        }
      }
    });
  }
}

}  // namespace astrelon

#include "pixelops/flattening/mask_image.h"

#include <algorithm>

#include "core/settings.h"
#include "kernels/regions/blank_interpolation.h"
#include "platform/parallel_bands.h"
#include "store/image_store.h"

namespace astrelon {

void MaskImageByImage(int a, int m, int d, bool fill) {
  if (!SlotInUse(a) || !SlotInUse(d)) return;
  const TImageSlot& A = Store.Image[size_t(a)];
  TImageSlot& D = Store.Image[size_t(d)];
  if (A.PlaneCount > 0 && SlotInUse(m)) {
    const TImageSlot& M = Store.Image[size_t(m)];
    const int32_t w = std::min({A.Width, M.Width, D.Width});
    const int32_t h = std::min({A.Height, M.Height, D.Height});
    const float level = float((double(M.MaxValue) + double(M.MinValue)) * 0.5);
    const int planes = std::min({A.PlaneCount, D.PlaneCount, 3});
    for (int p = 1; p <= planes && w > 0 && h > 0; ++p) {
      const int mp = M.IsColor && M.PlaneCount >= p ? p : 1;
      const TPlane& mask = M.Planes[size_t(mp)];
      TPlane& out = D.Planes[size_t(p)];
      if (mask.size() < M.PixelCount() || out.size() < D.PixelCount()) continue;
      const int threads = BandThreads(h, std::max<int64_t>(1, 262144 / w), Options.Multicore != 0);
      ForEachBand(h, threads, [&](int64_t first, int64_t last) {
        for (int64_t y = first; y < last; ++y) {
          const float* mr = mask.data() + size_t(y) * size_t(M.Width);
          float* dr = out.data() + size_t(y) * size_t(D.Width);
          for (int32_t x = 0; x < w; ++x)
            if (mr[x] >= level) dr[x] = BlankPixel;
        }
      });
    }
  }
  if (fill) InterpolateBlankPixels(a, d, true, false);
}

}  // namespace astrelon

// "Deinterlace": the second field of an interlaced video frame (every second
// row) moved back by a horizontal and a vertical shift; a vertical shift that
// is not an even number of rows mixes the two field rows around it.
#include <cmath>

#include "filters/dialog/pixel_filter_frame.h"
#include "filters/dialog/pixel_filters.h"
#include "kernels/sampling/subpixel_samplers.h"

namespace astrelon {

void DeinterlaceRows(TFilterCall& c) {
  if (!PrepareCall(c)) return;
  // The rows come from the source window's selection.
  const TWorkRect saved = WorkRect;
  SetWorkRectFromWindow(c.Source, 1, false);
  c.Rect = WorkRect;
  WorkRect = saved;
  if (!PrepareCall(c)) return;
  const double h = c.Value[1], v = c.Value[2];
  const int32_t k = 2 * int32_t(std::nearbyint(v / 2));
  const double w2 = std::fabs(v - k) / 2, w1 = 1 - w2;
  const int32_t step = v - k >= 0 ? 2 : -2;
  const TWorkRect r = c.Rect;
  const int32_t W = Store.Image[size_t(c.Source)].Width, H = Store.Image[size_t(c.Source)].Height;
  TCallPlanes planes(c);
  CopyUnselectedPlanes(c);
  // Field rows y1 + 1, y1 + 3, ... : band index j is row y1 + 1 + 2 j.
  const int64_t fieldRows = (int64_t(r.y2) - r.y1 + 1) / 2;
  for (int p = 1; p <= 3; ++p) {
    if (!c.Planes[size_t(p)] || !planes.Usable(p)) continue;
    float* out = planes.Out(p);
    const bool go = ForEachRowChunk(0, fieldRows, 2 * (int64_t(r.x2) - r.x1 + 1), c.Poll, p, [&](int64_t j0, int64_t j1) {
      for (int64_t j = j0; j < j1; ++j) {
        const int32_t y = int32_t(r.y1 + 1 + 2 * j);
        const int32_t r1 = y + k, r2 = r1 + step;
        if (r1 < 0 || r1 >= H) continue;
        const bool second = r2 >= 0 && r2 < H;
        for (int32_t x = r.x1; x <= r.x2; ++x) {
          const float at = float(x - h);
          float a = SampleAlongRowLinear(c.Source, p, r1, at);
          if (second) {
            const float b = SampleAlongRowLinear(c.Source, p, r2, at);
            if (!IsValidPixel(a))
              a = b;
            else if (IsValidPixel(b))
              a = float(a * w1 + b * w2);
          }
          out[size_t(y) * W + x] = a;
        }
      }
    });
    if (!go) return;
  }
}

}  // namespace astrelon

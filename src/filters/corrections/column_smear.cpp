// "Unsmear": the smear that a frame-transfer read-out leaves down the columns.
// Each result feeds a running sum down its column, and every following pixel
// loses that sum times the strength.
#include <algorithm>
#include <vector>

#include "filters/dialog/pixel_filter_frame.h"
#include "filters/dialog/pixel_filters.h"

namespace astrelon {

void UnsmearColumns(TFilterCall& c) {
  if (!PrepareCall(c)) return;
  const double s = double(c.Value[1]) * 0.00005;
  const TWorkRect r = c.Rect;
  const int32_t W = Store.Image[size_t(c.Source)].Width;
  TCallPlanes planes(c);
  CopyUnselectedPlanes(c);
  std::vector<double> acc(size_t(r.x2 - r.x1 + 1));
  for (int p = 1; p <= 3; ++p) {
    if (!c.Planes[size_t(p)] || !planes.Usable(p)) continue;
    const float* in = planes.In(p);
    float* out = planes.Out(p);
    // Chunks of rows in order; the columns of a chunk are split over the threads.
    const int64_t cols = int64_t(r.x2) - r.x1 + 1;
    const int64_t chunk = std::max<int64_t>(1, FilterChunkPixels / cols);
    bool go = true;
    for (int64_t y0 = r.y1; go && y0 <= r.y2; y0 += chunk) {
      const int64_t y1 = std::min<int64_t>(int64_t(r.y2) + 1, y0 + chunk);
      ForEachBand(cols, FilterThreads((y1 - y0) * cols), [&](int64_t a, int64_t b) {
        for (int64_t y = y0; y < y1; ++y) {
          const float* row = in + y * W + r.x1;
          float* dst = out + y * W + r.x1;
          for (int64_t i = a; i < b; ++i) {
            const float v = row[i];
            if (y == r.y1) {
              // A blank first pixel stays blank and starts the sum at 0.
              acc[size_t(i)] = IsValidPixel(v) ? v : 0.0;
              if (IsValidPixel(v)) dst[i] = v;
            } else if (IsValidPixel(v)) {
              const double d = v - acc[size_t(i)] * s;
              dst[i] = float(d);
              acc[size_t(i)] += d;
            } else {
              dst[i] = BlankPixel;
            }
          }
        }
      });
      go = !c.Poll || c.Poll->Continue(p, int(y1 - 1));
    }
    if (!go) return;
  }
}

}  // namespace astrelon

// "Hintergrund ebnen" of the filter dialog: a linear brightness gradient
// across the whole image, removed with slopes set on the two sliders.
#include <algorithm>

#include "filters/dialog/pixel_filter_frame.h"
#include "filters/dialog/pixel_filters.h"

namespace astrelon {

void RemoveLinearGradient(TFilterCall& c) {
  if (!PrepareCall(c)) return;
  const TImageSlot& im = Store.Image[size_t(c.Source)];
  const int32_t W = im.Width, H = im.Height;
  const double range = SourceBlackWhite(c.Source).Range;
  const double unitY = std::max(range / H, 0.0001), unitX = std::max(range / W, 0.0001);
  const double gy = unitY * c.Value[1] * 0.04, gx = unitX * c.Value[2] * 0.04;
  const double cy = H * 0.5, cx = W * 0.5;
  TCallPlanes planes(c);
  CopyUnselectedPlanes(c);
  for (int p = 1; p <= 3; ++p) {
    if (!c.Planes[size_t(p)] || !planes.Usable(p)) continue;
    const float* in = planes.In(p);
    float* out = planes.Out(p);
    const bool go = ForEachRowChunk(0, H, W, c.Poll, p, [&](int64_t y0, int64_t y1) {
      for (int64_t y = y0; y < y1; ++y) {
        const double dy = (double(y) - cy) * gy;
        for (int32_t x = 0; x < W; ++x) {
          const float v = in[y * W + x];
          if (IsValidPixel(v)) out[y * W + x] = float(v - dy - (cx - (x + 1)) * gx);
        }
      }
    });
    if (!go) return;
  }
}

}  // namespace astrelon

// "Farbsättigung": colour saturation of an RGB image worked on squared values
// above black (closer to linear light), or U and V scaled in a YUV image.
#include <cmath>

#include "filters/pixel_filter_frame.h"
#include "filters/pixel_filters.h"

namespace astrelon {

void AdjustColorSaturation(TFilterCall& c) {
  if (!PrepareCall(c) || !IsColorSlot(c.Source)) return;
  TCallPlanes planes(c);
  if (!planes.Usable(1) || !planes.Usable(2) || !planes.Usable(3)) return;
  const double k = double(c.Value[1]) * 0.01;
  const TBlackWhite bw = SourceBlackWhite(c.Source);
  // A display range of 0 would divide by zero; it counts as 1.
  const double range = bw.Range != 0 ? bw.Range : 1.0, inv = 1.0 / range;
  const bool yuv = planes.Src.ColorModel == CmYuv;
  const TWorkRect r = c.Rect;
  const int32_t W = planes.Src.Width;
  const float* in[4] = {nullptr, planes.In(1), planes.In(2), planes.In(3)};
  float* out[4] = {nullptr, planes.Out(1), planes.Out(2), planes.Out(3)};
  ForRectRows(c, 1, [&](int64_t y0, int64_t y1) {
    for (int64_t y = y0; y < y1; ++y)
      for (int64_t i = y * W + r.x1; i <= y * W + r.x2; ++i) {
        if (!IsValidPixel(in[1][i]) || !IsValidPixel(in[2][i]) || !IsValidPixel(in[3][i])) continue;
        if (yuv) {
          for (int p = 2; p <= 3; ++p) out[p][i] = c.Planes[size_t(p)] ? float(in[p][i] * k) : in[p][i];
          continue;
        }
        double u[4];
        for (int p = 1; p <= 3; ++p) {
          const double v = (in[p][i] - bw.Black) * inv;
          u[p] = v > 0 ? v * v : 0.0;
        }
        const double Y = 0.299 * u[1] + 0.587 * u[2] + 0.114 * u[3];
        for (int p = 1; p <= 3; ++p) {
          const double s = (u[p] - Y) * k + Y;
          out[p][i] = c.Planes[size_t(p)] ? float(range * (s > 0 ? std::sqrt(s) : 0.0) + bw.Black) : in[p][i];
        }
      }
  });
}

}  // namespace astrelon

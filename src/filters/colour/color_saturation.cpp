// "Farbsättigung": colour saturation of an RGB image worked on squared values
// above black (closer to linear light), or U and V scaled in a YUV image.
#include <cmath>

#include "filters/dialog/pixel_filter_frame.h"
#include "filters/dialog/pixel_filters.h"

namespace astrelon {

void AdjustColorSaturation(TFilterCall& c) {
  TColorPlanes planes;
  if (!PrepareColorCall(c, planes)) return;
  const double k = double(c.Value[1]) * 0.01;
  const TBlackWhite bw = SourceBlackWhite(c.Source);
  // A display range of 0 would divide by zero; it counts as 1.
  const double range = bw.Range != 0 ? bw.Range : 1.0, inv = 1.0 / range;
  const bool yuv = planes.Yuv;
  const int32_t W = planes.Width;
  const auto& in = planes.In;
  const auto& out = planes.Out;
  ForRectPixels(c, 1, W, [&](int64_t i) {
    if (!IsValidPixel(in[1][i]) || !IsValidPixel(in[2][i]) || !IsValidPixel(in[3][i])) return;
    if (yuv) {
      for (int p = 2; p <= 3; ++p) out[p][i] = c.Planes[size_t(p)] ? float(in[p][i] * k) : in[p][i];
      return;
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
  });
}

}  // namespace astrelon

// "Unscharfe Maskierung": unsharp masking of the luminance against its smooth
// background (the cached background of the masked flattening), the colours
// following the luminance. Only the working rectangle is written: outside it
// the cache holds the plain luminance, not a background.
#include "filters/dialog/filter_blur_cache.h"
#include "filters/dialog/filter_state.h"
#include "filters/dialog/pixel_filter_frame.h"
#include "filters/dialog/pixel_filters.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

void UnsharpMaskLuminance(TFilterCall& c) {
  if (!PrepareCall(c) || !PrepareFilterBlur(c, TBlurCacheKind::Background)) return;
  const TWorkRect r = c.Rect;
  const TImageSlot& bg = Store.Image[size_t(FilterBlurSlot)];
  TCallPlanes planes(c);
  if (!planes.Usable(1) || bg.Planes[1].size() != planes.Src.Planes[1].size()) return;
  const double k = double(c.Value[2]) * 0.01;
  const double black = SourceBlackWhite(c.Source).Black;
  TPercentileLevels median;
  GetPercentileLevels(FilterBlurSlot, 1, r.x1, r.x2, r.y1, r.y2, 50, 50, median);
  const double base = 0.3 * median.LevelA + 0.7 * black;
  const double gain = k * 1.5 + 1.0;
  const bool color = IsColorSlot(c.Source) && planes.Usable(2) && planes.Usable(3);
  const bool yuv = color && planes.Src.ColorModel == CmYuv;
  const int32_t W = planes.Src.Width;
  const float* b = bg.Planes[1].data();
  const float* in[4] = {nullptr, planes.In(1), color ? planes.In(2) : nullptr, color ? planes.In(3) : nullptr};
  float* out[4] = {nullptr, planes.Out(1), color ? planes.Out(2) : nullptr, color ? planes.Out(3) : nullptr};
  CopyUnselectedPlanes(c);
  ForRectPixels(c, 1, W, [&](int64_t i) {
    const float s1 = in[1][i], bi = b[i];
    if (!IsValidPixel(s1) || !IsValidPixel(bi)) return;
    const double push = k * (double(bi) - base);
    if (color && IsValidPixel(in[2][i]) && IsValidPixel(in[3][i])) {
      const double L = yuv ? s1 - black : 0.3 * s1 + 0.59 * in[2][i] + 0.11 * in[3][i] - black;
      const double T = (L - push) * gain - black;
      const double f = L > 1 ? T / L : T;
      for (int p = 1; p <= 3; ++p)
        if (c.Planes[size_t(p)]) out[p][i] = float((in[p][i] - L) * f + T);
    } else {
      out[1][i] = float((s1 - push) * gain);
    }
  });
}

}  // namespace astrelon

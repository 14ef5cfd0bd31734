// "Gauss schärfen" and "Gauss glätten": the source mixed with its cached
// Gaussian blur inside the working rectangle.
#include <cmath>

#include "filters/filter_blur_cache.h"
#include "filters/filter_state.h"
#include "filters/pixel_filter_frame.h"
#include "filters/pixel_filters.h"

namespace astrelon {

namespace {

// out = mix(v, b) for the valid source pixels v of the rectangle, b the blur.
template <class M>
void MixWithBlur(TFilterCall& c, M&& mix) {
  if (!PrepareCall(c) || !PrepareFilterBlur(c, TBlurCacheKind::Blur)) return;
  const TImageSlot& blur = Store.Image[size_t(FilterBlurSlot)];
  const TWorkRect r = c.Rect;
  const int32_t W = Store.Image[size_t(c.Source)].Width;
  TCallPlanes planes(c);
  CopyUnselectedPlanes(c);
  for (int p = 1; p <= 3; ++p) {
    if (!c.Planes[size_t(p)] || !planes.Usable(p) || blur.Planes[size_t(p)].size() != planes.Src.Planes[size_t(p)].size())
      continue;
    const float* in = planes.In(p);
    const float* b = blur.Planes[size_t(p)].data();
    float* out = planes.Out(p);
    const bool go = ForRectRows(c, p, [&](int64_t y0, int64_t y1) {
      for (int64_t y = y0; y < y1; ++y)
        for (int64_t i = y * W + r.x1; i <= y * W + r.x2; ++i)
          if (IsValidPixel(in[i]) && IsValidPixel(b[i])) out[i] = mix(in[i], b[i]);
    });
    if (!go) return;
  }
}

}  // namespace

void GaussSharpen(TFilterCall& c) {
  const TImageSlot& src = Store.Image[size_t(std::max(c.Source, 0))];
  const double t = (double(src.MaxValue) - src.MinValue) * double(c.Value[2]) * c.Value[2] * 0.0001;
  const double k = c.Value[3];
  MixWithBlur(c, [t, k](float v, float b) {
    const double d = double(v) - b;
    const double a = std::fabs(d);
    return a <= t ? v : float(v + d * k * (1.0 - t / a) * 0.01);
  });
}

void GaussSmooth(TFilterCall& c) {
  const double s = c.Value[2];
  MixWithBlur(c, [s](float v, float b) { return float((v * (100.0 - s) + b * s) * 0.01); });
}

}  // namespace astrelon

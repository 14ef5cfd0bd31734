// "Gauss schärfen" and "Gauss glätten": the source mixed with its cached
// Gaussian blur inside the working rectangle, four pixels at a time in double
// vectors (the same operations per lane as the single pixels at row ends).
#include <cmath>
#include <cstring>

#include "filters/dialog/filter_blur_cache.h"
#include "filters/dialog/filter_state.h"
#include "filters/dialog/pixel_filter_frame.h"
#include "filters/dialog/pixel_filters.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "platform/vector_lanes.h"

// The vector helpers are always inlined, so the calling convention of
// 32-byte vectors outside AVX code never applies.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

using namespace simd;

// out = mix(v, b) over n pixels where the source v and the blur b are valid.
template <class M>
[[gnu::always_inline]] inline void MixRun(const float* in, const float* blur, float* out, int64_t n, const M& mix) {
  int64_t i = 0;
  const TVec4f limit = TVec4f{} + BlankLimit;
  for (; i + 4 <= n; i += 4) {
    TVec4f v, b, o;
    std::memcpy(&v, in + i, sizeof v);
    std::memcpy(&b, blur + i, sizeof b);
    std::memcpy(&o, out + i, sizeof o);
    const TVec4d r = mix(__builtin_convertvector(v, TVec4d), __builtin_convertvector(b, TVec4d));
    const TVec4f res = (v > limit) & (b > limit) ? __builtin_convertvector(r, TVec4f) : o;
    std::memcpy(out + i, &res, sizeof res);
  }
  for (; i < n; ++i)
    if (IsValidPixel(in[i]) && IsValidPixel(blur[i])) out[i] = float(mix(double(in[i]), double(blur[i])));
}

template <class M>
void MixRunPlain(const float* in, const float* blur, float* out, int64_t n, const M& mix) {
  MixRun(in, blur, out, n, mix);
}
#if ASTRELON_HAVE_AVX2
template <class M>
ASTRELON_AVX2 void MixRunAvx2(const float* in, const float* blur, float* out, int64_t n, const M& mix) {
  MixRun(in, blur, out, n, mix);
}
#endif

template <class M>
void MixWithBlur(TFilterCall& c, const M& mix) {
  if (!PrepareCall(c) || !PrepareFilterBlur(c, TBlurCacheKind::Blur)) return;
  const TImageSlot& blur = Store.Image[size_t(FilterBlurSlot)];
  const TWorkRect r = c.Rect;
  const int32_t W = Store.Image[size_t(c.Source)].Width;
  TCallPlanes planes(c);
  CopyUnselectedPlanes(c);
  for (int p = 1; p <= 3; ++p) {
    if (!c.Planes[size_t(p)] || !planes.Usable(p) ||
        blur.Planes[size_t(p)].size() != planes.Src.Planes[size_t(p)].size())
      continue;
    const float* in = planes.In(p);
    const float* b = blur.Planes[size_t(p)].data();
    float* out = planes.Out(p);
    const bool avx2 = UseAvx2(Sse2Enabled);
    const bool go = ForRectRows(c, p, [&](int64_t y0, int64_t y1) {
      for (int64_t y = y0; y < y1; ++y) {
        const int64_t at = y * W + r.x1;
#if ASTRELON_HAVE_AVX2
        if (avx2) {
          MixRunAvx2(in + at, b + at, out + at, r.x2 - r.x1 + 1, mix);
          continue;
        }
#endif
        MixRunPlain(in + at, b + at, out + at, r.x2 - r.x1 + 1, mix);
      }
    });
    if (!go) return;
  }
}

}  // namespace

void GaussSharpen(TFilterCall& c) {
  const TImageSlot& src = Store.Image[size_t(std::max(c.Source, 0))];
  const double t = (double(src.MaxValue) - src.MinValue) * double(c.Value[2]) * c.Value[2] * 0.0001;
  const double k = c.Value[3];
  MixWithBlur(c, [t, k](auto v, auto b) __attribute__((always_inline)) {
    const auto d = v - b;
    const auto a = d < 0 ? -d : d;
    return a <= t ? v : v + d * k * (1.0 - t / a) * 0.01;
  });
}

void GaussSmooth(TFilterCall& c) {
  const double s = c.Value[2];
  MixWithBlur(c, [s](auto v, auto b) __attribute__((always_inline)) { return (v * (100.0 - s) + b * s) * 0.01; });
}

}  // namespace astrelon

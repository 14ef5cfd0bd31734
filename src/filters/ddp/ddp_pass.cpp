#include "filters/ddp/ddp_pass.h"

#include <algorithm>

#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/image_slot.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace astrelon {

namespace {

inline float DdpPixel(float s, float b, const TDdpFigures& f) {
  // Written as the vector maxima work, so that a NaN takes the bound on both paths.
  float den = (b - f.Black) + f.Offset;
  den = den > 0.1f ? den : 0.1f;
  const float r = (s - f.Black) / den * f.Gain + f.Black;
  return r > f.Floor ? r : f.Floor;
}

}  // namespace

TDdpFigures DdpFigures(int gammaPosition, float black, float range, float floor) {
  const float c = 0.1f * float(60 - gammaPosition) * range;
  return {black, c, 1.2f * (c + range), floor};
}

void DdpRun(std::span<const float> in, std::span<const float> blur, std::span<float> out, const TDdpFigures& f,
            bool vector) {
  const size_t n = std::min({in.size(), blur.size(), out.size()});
  size_t i = 0;
#if defined(__SSE2__)
  if (vector) {
    const __m128 black = _mm_set1_ps(f.Black), offset = _mm_set1_ps(f.Offset), gain = _mm_set1_ps(f.Gain);
    const __m128 floor = _mm_set1_ps(f.Floor), least = _mm_set1_ps(0.1f), limit = _mm_set1_ps(BlankLimit);
    for (; i + 4 <= n; i += 4) {
      const __m128 s = _mm_loadu_ps(in.data() + i), b = _mm_loadu_ps(blur.data() + i);
      const __m128 old = _mm_loadu_ps(out.data() + i);
      __m128 den = _mm_add_ps(_mm_sub_ps(b, black), offset);
      den = _mm_max_ps(den, least);
      __m128 r = _mm_add_ps(_mm_mul_ps(_mm_div_ps(_mm_sub_ps(s, black), den), gain), black);
      r = _mm_max_ps(r, floor);
      const __m128 valid = _mm_and_ps(_mm_cmpgt_ps(s, limit), _mm_cmpgt_ps(b, limit));
      _mm_storeu_ps(out.data() + i, _mm_or_ps(_mm_and_ps(valid, r), _mm_andnot_ps(valid, old)));
    }
  }
#endif
  for (; i < n; ++i)
    if (IsValidPixel(in[i]) && IsValidPixel(blur[i])) out[i] = DdpPixel(in[i], blur[i], f);
}

void DdpPlane(const float* in, const float* blur, float* out, size_t count, const TDdpFigures& f, bool multicore) {
  constexpr int64_t MinBand = int64_t(1) << 16;
  const int threads = BandThreads(int64_t(count), MinBand, multicore);
  const bool vector = Sse2Enabled;
  ForEachBand(int64_t(count), threads, [&](int64_t a, int64_t b) {
    const size_t from = size_t(a), len = size_t(b - a);
    DdpRun({in + from, len}, {blur + from, len}, {out + from, len}, f, vector);
  });
}

}  // namespace astrelon

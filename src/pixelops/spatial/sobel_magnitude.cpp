#include "pixelops/spatial/sobel_magnitude.h"

#include <cmath>
#include <span>

#include "pixelops/spatial/edge_planes.h"
#include "platform/simd_support.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// Rows above, at and below the output row, and the output row itself.
struct TSobelRows {
  const float* Up;
  const float* Mid;
  const float* Down;
  float* Out;
};

// One inner pixel; every operation in the order the eight-wide path uses.
inline float SobelPixel(const TSobelRows& r, size_t x) {
  const float tl = r.Up[x - 1], t = r.Up[x], tr = r.Up[x + 1];
  const float l = r.Mid[x - 1], c = r.Mid[x], rt = r.Mid[x + 1];
  const float bl = r.Down[x - 1], b = r.Down[x], br = r.Down[x + 1];
  const bool valid = IsValidPixel(tl) && IsValidPixel(t) && IsValidPixel(tr) && IsValidPixel(l) &&
                     IsValidPixel(c) && IsValidPixel(rt) && IsValidPixel(bl) && IsValidPixel(b) && IsValidPixel(br);
  const float old = r.Out[x];
  if (!valid) return IsValidPixel(old) ? 0.0f : old;
  const float gx = ((tl - tr) + (bl - br)) + 2.0f * (l - rt);
  const float gy = ((tl - bl) + (tr - br)) + 2.0f * (t - b);
  return std::sqrt(gx * gx + gy * gy);
}

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 inline __m256 Load8(const float* p) { return _mm256_loadu_ps(p); }
ASTRELON_AVX2 inline __m256 Valid8(__m256 v) { return _mm256_cmp_ps(v, _mm256_set1_ps(BlankLimit), _CMP_GT_OQ); }

// Inner pixels from x = 1 eight at a time; returns the first x not done.
ASTRELON_AVX2 size_t SobelRowAvx2(const TSobelRows& r, size_t width) {
  const __m256 limit = _mm256_set1_ps(BlankLimit), two = _mm256_set1_ps(2.0f);
  size_t x = 1;
  for (; x + 8 <= width - 1; x += 8) {
    const __m256 tl = Load8(r.Up + x - 1), t = Load8(r.Up + x), tr = Load8(r.Up + x + 1);
    const __m256 l = Load8(r.Mid + x - 1), c = Load8(r.Mid + x), rt = Load8(r.Mid + x + 1);
    const __m256 bl = Load8(r.Down + x - 1), b = Load8(r.Down + x), br = Load8(r.Down + x + 1);
    __m256 valid = _mm256_and_ps(_mm256_and_ps(Valid8(tl), Valid8(t)), _mm256_and_ps(Valid8(tr), Valid8(l)));
    valid = _mm256_and_ps(valid, _mm256_and_ps(_mm256_and_ps(Valid8(c), Valid8(rt)), _mm256_and_ps(Valid8(bl), Valid8(b))));
    valid = _mm256_and_ps(valid, Valid8(br));
    const __m256 gx = _mm256_add_ps(_mm256_add_ps(_mm256_sub_ps(tl, tr), _mm256_sub_ps(bl, br)),
                                    _mm256_mul_ps(two, _mm256_sub_ps(l, rt)));
    const __m256 gy = _mm256_add_ps(_mm256_add_ps(_mm256_sub_ps(tl, bl), _mm256_sub_ps(tr, br)),
                                    _mm256_mul_ps(two, _mm256_sub_ps(t, b)));
    const __m256 mag = _mm256_sqrt_ps(_mm256_add_ps(_mm256_mul_ps(gx, gx), _mm256_mul_ps(gy, gy)));
    const __m256 old = Load8(r.Out + x);
    const __m256 kept = _mm256_and_ps(_mm256_cmp_ps(old, limit, _CMP_NGT_UQ), old);  // blank stays, else 0
    _mm256_storeu_ps(r.Out + x, _mm256_blendv_ps(kept, mag, valid));
  }
  return x;
}
#endif

// Valid pixels of a border run become 0.
inline void ZeroValid(std::span<float> run) {
  for (float& v : run)
    if (IsValidPixel(v)) v = 0.0f;
}

}  // namespace

void SobelMagnitude(int source, int destination) { SobelMagnitude(source, destination, Sse2Enabled); }

void SobelMagnitude(int source, int destination, bool vector) {
  const bool avx2 = UseAvx2(vector);
  ForEachEdgeBand(source, destination,
                  [avx2](const float* in, float* out, int32_t width, int32_t h, int64_t first, int64_t last) {
                    const size_t w = size_t(width);
                    for (int64_t y = first; y < last; ++y) {
                      float* row = out + size_t(y) * w;
                      if (y == 0 || y == h - 1 || w < 3) {
                        ZeroValid({row, w});
                        continue;
                      }
                      const TSobelRows r{in + size_t(y - 1) * w, in + size_t(y) * w, in + size_t(y + 1) * w, row};
                      size_t x = 1;
#if ASTRELON_HAVE_AVX2
                      if (avx2) x = SobelRowAvx2(r, w);
#endif
                      for (; x + 1 < w; ++x) row[x] = SobelPixel(r, x);
                      ZeroValid({row, 1});
                      ZeroValid({row + w - 1, 1});
                    }
                  });
}

}  // namespace astrelon

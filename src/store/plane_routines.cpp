#include "store/plane_routines.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "store/image_slot.h"
#include "store/simd_support.h"

namespace astrelon {

namespace {

constexpr float MinSearchStart = 1e20f;

// Final step of both paths: no valid value below 1e18 means "nothing found". The
// added zero turns a minimum of -0 into +0, whichever of the two zeros came first.
void FinishMinMax(float lo, float hi, float& min, float& max) {
  if (!(lo < NoMinimum)) {
    min = 0.0f;
    max = 1.0f;
  } else {
    min = lo + 0.0f;
    max = std::min(hi, NoMinimum) + 0.0f;
  }
}

void ClampRow(float* row, int32_t w) {
  for (int32_t x = 0; x < w; ++x)
    if (row[x] > NoMinimum) row[x] = NoMinimum;
}

void RectMinMaxScalar(float* base, int32_t w, int32_t h, int64_t stride, float& min, float& max) {
  float lo = MinSearchStart, hi = -MinSearchStart;
  for (int32_t y = 0; y < h; ++y) {
    float* row = base + y * stride;
    for (int32_t x = 0; x < w; ++x) {
      float v = row[x];
      if (v > NoMinimum) row[x] = v = NoMinimum;
      if (IsValidPixel(v)) {
        if (v < lo) lo = v;
        if (v > hi) hi = v;
      }
    }
  }
  FinishMinMax(lo, hi, min, max);
}

#if ASTRELON_HAVE_SSE2
float HorizontalMin(__m128 v) {
  v = _mm_min_ps(v, _mm_movehl_ps(v, v));
  v = _mm_min_ss(v, _mm_shuffle_ps(v, v, 1));
  return _mm_cvtss_f32(v);
}
float HorizontalMax(__m128 v) {
  v = _mm_max_ps(v, _mm_movehl_ps(v, v));
  v = _mm_max_ss(v, _mm_shuffle_ps(v, v, 1));
  return _mm_cvtss_f32(v);
}

// The maximum runs over the raw values (a NaN never enters: maxps returns its
// second operand then) starting at the blank limit, so blanks never raise it; a row
// whose values pushed it above 1e18 is clamped in place afterwards. The minimum
// sees invalid values as 1e20.
void RectMinMaxSse2(float* base, int32_t w, int32_t h, int64_t stride, float& min, float& max) {
  const __m128 limit = _mm_set1_ps(BlankLimit);
  const __m128 start = _mm_set1_ps(MinSearchStart);
  const __m128 ceiling = _mm_set1_ps(NoMinimum);
  __m128 lo0 = start, lo1 = start, hi0 = limit, hi1 = limit;
  float lo = MinSearchStart, hi = BlankLimit;
  for (int32_t y = 0; y < h; ++y) {
    float* row = base + y * stride;
    int32_t x = 0;
    for (; x + 8 <= w; x += 8) {
      const __m128 a = _mm_loadu_ps(row + x);
      const __m128 b = _mm_loadu_ps(row + x + 4);
      const __m128 va = _mm_cmpgt_ps(a, limit);
      const __m128 vb = _mm_cmpgt_ps(b, limit);
      lo0 = _mm_min_ps(_mm_or_ps(_mm_and_ps(va, a), _mm_andnot_ps(va, start)), lo0);
      lo1 = _mm_min_ps(_mm_or_ps(_mm_and_ps(vb, b), _mm_andnot_ps(vb, start)), lo1);
      hi0 = _mm_max_ps(a, hi0);
      hi1 = _mm_max_ps(b, hi1);
    }
    for (; x < w; ++x) {
      const float v = row[x];
      if (IsValidPixel(v)) {
        if (v < lo) lo = v;
        if (v > hi) hi = v;
      }
    }
    const __m128 rowHi = _mm_max_ps(hi0, hi1);
    if (_mm_movemask_ps(_mm_cmpgt_ps(rowHi, ceiling)) != 0 || hi > NoMinimum) {
      ClampRow(row, w);
      hi0 = _mm_min_ps(hi0, ceiling);
      hi1 = _mm_min_ps(hi1, ceiling);
      hi = std::min(hi, NoMinimum);
    }
  }
  lo = std::min(lo, HorizontalMin(_mm_min_ps(lo0, lo1)));
  hi = std::max(hi, HorizontalMax(_mm_max_ps(hi0, hi1)));
  FinishMinMax(lo, hi, min, max);
}
#endif

void RectSumScalar(const float* base, int32_t w, int32_t h, int64_t stride, double& sum, int64_t& count) {
  TSumLanes acc{};
  int64_t n = 0;
  for (int32_t y = 0; y < h; ++y) {
    const float* row = base + y * stride;
    int32_t x = 0;
    for (; x + SumLaneCount <= w; x += SumLaneCount)
      for (int j = 0; j < SumLaneCount; ++j) {
        const float v = row[x + j];
        const bool valid = IsValidPixel(v);
        acc[size_t(j)] += valid ? double(v) : 0.0;
        n += valid;
      }
    for (; x < w; ++x) {
      const float v = row[x];
      const bool valid = IsValidPixel(v);
      acc[size_t(x % SumLaneCount)] += valid ? double(v) : 0.0;
      n += valid;
    }
  }
  sum = ReduceSumLanes(acc);
  count = n;
}

#if ASTRELON_HAVE_SSE2
void RectSumSse2(const float* base, int32_t w, int32_t h, int64_t stride, double& sum, int64_t& count) {
  const __m128 limit = _mm_set1_ps(BlankLimit);
  TSumLanes acc{};
  int64_t n = 0;
  __m128d s0 = _mm_setzero_pd(), s1 = s0, s2 = s0, s3 = s0;
  for (int32_t y = 0; y < h; ++y) {
    const float* row = base + y * stride;
    __m128i cnt = _mm_setzero_si128();
    int32_t x = 0;
    for (; x + 8 <= w; x += 8) {
      const __m128 a = _mm_loadu_ps(row + x);
      const __m128 b = _mm_loadu_ps(row + x + 4);
      const __m128 va = _mm_cmpgt_ps(a, limit);
      const __m128 vb = _mm_cmpgt_ps(b, limit);
      const __m128 am = _mm_and_ps(va, a);  // blanks become +0
      const __m128 bm = _mm_and_ps(vb, b);
      s0 = _mm_add_pd(s0, _mm_cvtps_pd(am));
      s1 = _mm_add_pd(s1, _mm_cvtps_pd(_mm_movehl_ps(am, am)));
      s2 = _mm_add_pd(s2, _mm_cvtps_pd(bm));
      s3 = _mm_add_pd(s3, _mm_cvtps_pd(_mm_movehl_ps(bm, bm)));
      cnt = _mm_sub_epi32(cnt, _mm_castps_si128(va));
      cnt = _mm_sub_epi32(cnt, _mm_castps_si128(vb));
    }
    alignas(16) int32_t c[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(c), cnt);
    n += int64_t(c[0]) + c[1] + c[2] + c[3];
    if (x < w) {
      _mm_storeu_pd(&acc[0], s0);
      _mm_storeu_pd(&acc[2], s1);
      _mm_storeu_pd(&acc[4], s2);
      _mm_storeu_pd(&acc[6], s3);
      for (; x < w; ++x) {
        const float v = row[x];
        const bool valid = IsValidPixel(v);
        acc[size_t(x % SumLaneCount)] += valid ? double(v) : 0.0;
        n += valid;
      }
      s0 = _mm_loadu_pd(&acc[0]);
      s1 = _mm_loadu_pd(&acc[2]);
      s2 = _mm_loadu_pd(&acc[4]);
      s3 = _mm_loadu_pd(&acc[6]);
    }
  }
  _mm_storeu_pd(&acc[0], s0);
  _mm_storeu_pd(&acc[2], s1);
  _mm_storeu_pd(&acc[4], s2);
  _mm_storeu_pd(&acc[6], s3);
  sum = ReduceSumLanes(acc);
  count = n;
}
#endif

// Above this many bytes a copy bypasses the caches on its stores: the target
// would not stay cached anyway, and the stores then need no reads of it first.
constexpr uint64_t StreamingCopyBytes = uint64_t(4) << 20;

#if ASTRELON_HAVE_SSE2
void CopyRowStreaming(const float* src, float* dst, int32_t w) {
  int32_t x = 0;
  while (x < w && (reinterpret_cast<uintptr_t>(dst + x) & 15) != 0) {
    dst[x] = src[x];
    ++x;
  }
  for (; x + 16 <= w; x += 16) {
    const __m128 a = _mm_loadu_ps(src + x);
    const __m128 b = _mm_loadu_ps(src + x + 4);
    const __m128 c = _mm_loadu_ps(src + x + 8);
    const __m128 d = _mm_loadu_ps(src + x + 12);
    _mm_stream_ps(dst + x, a);
    _mm_stream_ps(dst + x + 4, b);
    _mm_stream_ps(dst + x + 8, c);
    _mm_stream_ps(dst + x + 12, d);
  }
  for (; x + 4 <= w; x += 4) _mm_stream_ps(dst + x, _mm_loadu_ps(src + x));
  for (; x < w; ++x) dst[x] = src[x];
}
#endif

}  // namespace

void RectMinMax(std::span<float> data, int32_t w, int32_t h, int64_t stride, float& min, float& max, bool vector) {
  CheckRect(data.size(), w, h, stride);
  if (w <= 0 || h <= 0) {
    FinishMinMax(MinSearchStart, -MinSearchStart, min, max);
    return;
  }
#if ASTRELON_HAVE_SSE2
  if (vector) {
    RectMinMaxSse2(data.data(), w, h, stride, min, max);
    return;
  }
#endif
  RectMinMaxScalar(data.data(), w, h, stride, min, max);
}

void RectSum(std::span<const float> data, int32_t w, int32_t h, int64_t stride, double& sum, int64_t& count,
             bool vector) {
  CheckRect(data.size(), w, h, stride);
  sum = 0;
  count = 0;
  if (w <= 0 || h <= 0) return;
#if ASTRELON_HAVE_SSE2
  if (vector) {
    RectSumSse2(data.data(), w, h, stride, sum, count);
    return;
  }
#endif
  RectSumScalar(data.data(), w, h, stride, sum, count);
}

int32_t PercentAbove(std::span<const float> data, float threshold) {
  int64_t valid = 0, above = 0;
  size_t i = 0;
#if ASTRELON_HAVE_SSE2
  // Counting is exact in any order, so the SSE2 loop needs no switch.
  const __m128 limit = _mm_set1_ps(BlankLimit);
  const __m128 thr = _mm_set1_ps(threshold);
  const size_t blockEnd = data.size() & ~size_t(3);
  while (i < blockEnd) {
    // Lane counters are flushed before they could overflow.
    const size_t chunkEnd = std::min(blockEnd, i + (size_t(1) << 28));
    __m128i nv = _mm_setzero_si128(), na = _mm_setzero_si128();
    for (; i < chunkEnd; i += 4) {
      const __m128 v = _mm_loadu_ps(data.data() + i);
      const __m128 ok = _mm_cmpgt_ps(v, limit);
      nv = _mm_sub_epi32(nv, _mm_castps_si128(ok));
      na = _mm_sub_epi32(na, _mm_castps_si128(_mm_and_ps(ok, _mm_cmpgt_ps(v, thr))));
    }
    alignas(16) int32_t c[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(c), nv);
    _mm_store_si128(reinterpret_cast<__m128i*>(c + 4), na);
    valid += int64_t(c[0]) + c[1] + c[2] + c[3];
    above += int64_t(c[4]) + c[5] + c[6] + c[7];
  }
#endif
  for (; i < data.size(); ++i) {
    const float v = data[i];
    if (IsValidPixel(v)) {
      ++valid;
      if (v > threshold) ++above;
    }
  }
  return valid > 0 ? int32_t(above * 100 / valid) : 0;
}

void CopyRect32(std::span<const float> src, std::span<float> dst, int32_t w, int32_t h, int64_t srcStride,
                int64_t dstStride) {
  if (h < 1 || w < 1) return;
  CheckRect(src.size(), w, h, srcStride);
  CheckRect(dst.size(), w, h, dstStride);
  const uint64_t bytes = uint64_t(w) * uint64_t(h) * sizeof(float);
#if ASTRELON_HAVE_SSE2
  if (bytes >= StreamingCopyBytes) {
    for (int32_t y = 0; y < h; ++y) CopyRowStreaming(src.data() + y * srcStride, dst.data() + y * dstStride, w);
    _mm_sfence();
    return;
  }
#endif
  if (srcStride == w && dstStride == w) {
    std::memcpy(dst.data(), src.data(), bytes);
    return;
  }
  for (int32_t y = 0; y < h; ++y)
    std::memcpy(dst.data() + y * dstStride, src.data() + y * srcStride, size_t(w) * sizeof(float));
}

void FillDwords(std::span<uint32_t> p, bool vector, uint32_t value) {
  size_t i = 0;
#if ASTRELON_HAVE_SSE2
  if (vector) {
    // Single words up to the first 16-byte boundary, then aligned stores.
    while (i < p.size() && (reinterpret_cast<uintptr_t>(p.data() + i) & 15) != 0) p[i++] = value;
    const __m128i v = _mm_set1_epi32(int32_t(value));
    for (; i + 4 <= p.size(); i += 4) _mm_store_si128(reinterpret_cast<__m128i*>(p.data() + i), v);
  }
#endif
  std::fill(p.begin() + std::ptrdiff_t(i), p.end(), value);
}

void FillDwords(std::span<float> p, bool vector, float value) {
  FillDwords(std::span<uint32_t>(reinterpret_cast<uint32_t*>(p.data()), p.size()), vector,
             std::bit_cast<uint32_t>(value));
}

void ZeroBytes(std::span<std::byte> p, bool vector) {
  size_t i = 0;
#if ASTRELON_HAVE_SSE2
  if (vector) {
    while (i < p.size() && (reinterpret_cast<uintptr_t>(p.data() + i) & 15) != 0) p[i++] = std::byte{0};
    const __m128i z = _mm_setzero_si128();
    for (; i + 16 <= p.size(); i += 16) _mm_store_si128(reinterpret_cast<__m128i*>(p.data() + i), z);
  }
#endif
  if (i < p.size()) std::memset(p.data() + i, 0, p.size() - i);
}

void CombinePlanes(std::span<const float> a, std::span<const float> b, std::span<float> dst, int32_t w, int32_t h,
                   int64_t aStride, int64_t bStride, int64_t dstStride, int32_t mode, float factor) {
  if (mode < 1 || mode > 3 || w < 1 || h < 1) return;
  CheckRect(a.size(), w, h, aStride);
  CheckRect(b.size(), w, h, bStride);
  CheckRect(dst.size(), w, h, dstStride);
  for (int32_t y = 0; y < h; ++y) {
    const float* ar = a.data() + y * aStride;
    const float* br = b.data() + y * bStride;
    float* dr = dst.data() + y * dstStride;
    for (int32_t x = 0; x < w; ++x) {
      const float va = ar[x], vb = br[x];
      if (!IsValidPixel(va) || !IsValidPixel(vb)) {
        dr[x] = va;
        continue;
      }
      switch (mode) {
        case 1: dr[x] = va + vb; break;
        case 2: dr[x] = va - vb; break;
        default: dr[x] = va * factor + vb; break;
      }
    }
  }
}

}  // namespace astrelon

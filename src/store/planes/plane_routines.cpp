#include "store/planes/plane_routines.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "platform/simd_support.h"
#include "store/image_slot.h"

namespace astrelon {

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

namespace {

void ClampRow(float* row, int32_t w) {
  for (int32_t x = 0; x < w; ++x)
    if (row[x] > NoMinimum) row[x] = NoMinimum;
}

void RectMinMaxScalar(float* base, int32_t w, int32_t h, int64_t stride, TMinMaxScan& scan) {
  float lo = scan.Lo, hi = scan.Hi;
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
  scan.Lo = lo;
  scan.Hi = hi;
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
// sees invalid values as 1e20. Values of 1e18 and above need no clamping for the
// minimum: they only matter when nothing smaller is valid, and then the result is
// "nothing found" either way.
void RectMinMaxSse2(float* base, int32_t w, int32_t h, int64_t stride, TMinMaxScan& scan) {
  const __m128 limit = _mm_set1_ps(BlankLimit);
  const __m128 start = _mm_set1_ps(MinSearchStart);
  const __m128 ceiling = _mm_set1_ps(NoMinimum);
  __m128 lo[4] = {start, start, start, start};
  __m128 hi[4] = {limit, limit, limit, limit};
  float tlo = MinSearchStart, thi = BlankLimit;
  for (int32_t y = 0; y < h; ++y) {
    float* row = base + y * stride;
    int32_t x = 0;
    for (; x + 16 <= w; x += 16)
      for (int j = 0; j < 4; ++j) {
        const __m128 a = _mm_loadu_ps(row + x + 4 * j);
        const __m128 va = _mm_cmpgt_ps(a, limit);
        lo[j] = _mm_min_ps(_mm_or_ps(_mm_and_ps(va, a), _mm_andnot_ps(va, start)), lo[j]);
        hi[j] = _mm_max_ps(a, hi[j]);
      }
    for (; x < w; ++x) {
      const float v = row[x];
      if (IsValidPixel(v)) {
        if (v < tlo) tlo = v;
        if (v > thi) thi = v;
      }
    }
    const __m128 rowHi = _mm_max_ps(_mm_max_ps(hi[0], hi[1]), _mm_max_ps(hi[2], hi[3]));
    if (_mm_movemask_ps(_mm_cmpgt_ps(rowHi, ceiling)) != 0 || thi > NoMinimum) {
      ClampRow(row, w);
      for (__m128& v : hi) v = _mm_min_ps(v, ceiling);
      thi = std::min(thi, NoMinimum);
    }
  }
  const float vlo = HorizontalMin(_mm_min_ps(_mm_min_ps(lo[0], lo[1]), _mm_min_ps(lo[2], lo[3])));
  const float vhi = HorizontalMax(_mm_max_ps(_mm_max_ps(hi[0], hi[1]), _mm_max_ps(hi[2], hi[3])));
  scan.Merge(TMinMaxScan{std::min(tlo, vlo), std::max(thi, vhi)});
}
#endif

#if ASTRELON_HAVE_AVX2

// The same as the SSE2 loop, eight values at a time.
ASTRELON_AVX2 void RectMinMaxAvx2(float* base, int32_t w, int32_t h, int64_t stride, TMinMaxScan& scan) {
  const __m256 limit = _mm256_set1_ps(BlankLimit);
  const __m256 start = _mm256_set1_ps(MinSearchStart);
  const __m256 ceiling = _mm256_set1_ps(NoMinimum);
  __m256 lo0 = start, lo1 = start, lo2 = start, lo3 = start;
  __m256 hi0 = limit, hi1 = limit, hi2 = limit, hi3 = limit;
  float tlo = MinSearchStart, thi = BlankLimit;
  for (int32_t y = 0; y < h; ++y) {
    float* row = base + y * stride;
    int32_t x = 0;
    for (; x + 32 <= w; x += 32) {
      const __m256 a = _mm256_loadu_ps(row + x);
      const __m256 b = _mm256_loadu_ps(row + x + 8);
      const __m256 c = _mm256_loadu_ps(row + x + 16);
      const __m256 d = _mm256_loadu_ps(row + x + 24);
      lo0 = _mm256_min_ps(_mm256_blendv_ps(start, a, _mm256_cmp_ps(a, limit, _CMP_GT_OQ)), lo0);
      lo1 = _mm256_min_ps(_mm256_blendv_ps(start, b, _mm256_cmp_ps(b, limit, _CMP_GT_OQ)), lo1);
      lo2 = _mm256_min_ps(_mm256_blendv_ps(start, c, _mm256_cmp_ps(c, limit, _CMP_GT_OQ)), lo2);
      lo3 = _mm256_min_ps(_mm256_blendv_ps(start, d, _mm256_cmp_ps(d, limit, _CMP_GT_OQ)), lo3);
      hi0 = _mm256_max_ps(a, hi0);
      hi1 = _mm256_max_ps(b, hi1);
      hi2 = _mm256_max_ps(c, hi2);
      hi3 = _mm256_max_ps(d, hi3);
    }
    for (; x < w; ++x) {
      const float v = row[x];
      if (IsValidPixel(v)) {
        if (v < tlo) tlo = v;
        if (v > thi) thi = v;
      }
    }
    const __m256 rowHi = _mm256_max_ps(_mm256_max_ps(hi0, hi1), _mm256_max_ps(hi2, hi3));
    if (_mm256_movemask_ps(_mm256_cmp_ps(rowHi, ceiling, _CMP_GT_OQ)) != 0 || thi > NoMinimum) {
      ClampRow(row, w);
      hi0 = _mm256_min_ps(hi0, ceiling);
      hi1 = _mm256_min_ps(hi1, ceiling);
      hi2 = _mm256_min_ps(hi2, ceiling);
      hi3 = _mm256_min_ps(hi3, ceiling);
      thi = std::min(thi, NoMinimum);
    }
  }
  const float vlo = HorizontalMin8(_mm256_min_ps(_mm256_min_ps(lo0, lo1), _mm256_min_ps(lo2, lo3)));
  const float vhi = HorizontalMax8(_mm256_max_ps(_mm256_max_ps(hi0, hi1), _mm256_max_ps(hi2, hi3)));
  scan.Merge(TMinMaxScan{std::min(tlo, vlo), std::max(thi, vhi)});
}
#endif

// Adds the rest of a row (from x on) into the lanes, as the scalar path does.
void AddRowTail(const float* row, int32_t x, int32_t w, TSumLanes& acc, int64_t& n) {
  for (; x < w; ++x) {
    const float v = row[x];
    const bool valid = IsValidPixel(v);
    acc[size_t(x % SumLaneCount)] += valid ? double(v) : 0.0;
    n += valid;
  }
}

void RectSumScalar(const float* base, int32_t w, int32_t h, int64_t stride, double& sum, int64_t& count) {
  TSumLanes acc{};
  int64_t n = 0;
  for (int32_t y = 0; y < h; ++y) AddRowTail(base + y * stride, 0, w, acc, n);
  sum = ReduceSumLanes(acc);
  count = n;
}

#if ASTRELON_HAVE_SSE2
// Lanes 2j and 2j+1 live in s[j]; blanks add +0.
void RectSumSse2(const float* base, int32_t w, int32_t h, int64_t stride, double& sum, int64_t& count) {
  const __m128 limit = _mm_set1_ps(BlankLimit);
  TSumLanes acc{};
  int64_t n = 0;
  for (int32_t y = 0; y < h; ++y) {
    const float* row = base + y * stride;
    __m128d s[8];
    for (int j = 0; j < 8; ++j) s[j] = _mm_loadu_pd(&acc[size_t(2 * j)]);
    __m128i cnt = _mm_setzero_si128();
    int32_t x = 0;
    for (; x + 16 <= w; x += 16)
      for (int j = 0; j < 4; ++j) {
        const __m128 a = _mm_loadu_ps(row + x + 4 * j);
        const __m128 va = _mm_cmpgt_ps(a, limit);
        const __m128 am = _mm_and_ps(va, a);
        s[2 * j] = _mm_add_pd(s[2 * j], _mm_cvtps_pd(am));
        s[2 * j + 1] = _mm_add_pd(s[2 * j + 1], _mm_cvtps_pd(_mm_movehl_ps(am, am)));
        cnt = _mm_sub_epi32(cnt, _mm_castps_si128(va));
      }
    for (int j = 0; j < 8; ++j) _mm_storeu_pd(&acc[size_t(2 * j)], s[j]);
    alignas(16) int32_t c[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(c), cnt);
    n += int64_t(c[0]) + c[1] + c[2] + c[3];
    AddRowTail(row, x, w, acc, n);
  }
  sum = ReduceSumLanes(acc);
  count = n;
}
#endif

#if ASTRELON_HAVE_AVX2
// Lanes 4j..4j+3 live in s[j]. Blocks of sixteen valid values (the usual case)
// convert straight from memory; a block with blanks masks them to +0 first.
ASTRELON_AVX2 void RectSumAvx2(const float* base, int32_t w, int32_t h, int64_t stride, double& sum,
                               int64_t& count) {
  const __m256 limit = _mm256_set1_ps(BlankLimit);
  TSumLanes acc{};
  int64_t n = 0;
  for (int32_t y = 0; y < h; ++y) {
    const float* row = base + y * stride;
    __m256d s0 = _mm256_loadu_pd(&acc[0]), s1 = _mm256_loadu_pd(&acc[4]);
    __m256d s2 = _mm256_loadu_pd(&acc[8]), s3 = _mm256_loadu_pd(&acc[12]);
    int64_t rowCount = 0;
    int32_t x = 0;
    for (; x + 16 <= w; x += 16) {
      const __m256 a = _mm256_loadu_ps(row + x);
      const __m256 b = _mm256_loadu_ps(row + x + 8);
      const __m256 va = _mm256_cmp_ps(a, limit, _CMP_GT_OQ);
      const __m256 vb = _mm256_cmp_ps(b, limit, _CMP_GT_OQ);
      const int m = _mm256_movemask_ps(va) | (_mm256_movemask_ps(vb) << 8);
      if (m == 0xFFFF) {
        s0 = _mm256_add_pd(s0, _mm256_cvtps_pd(_mm_loadu_ps(row + x)));
        s1 = _mm256_add_pd(s1, _mm256_cvtps_pd(_mm_loadu_ps(row + x + 4)));
        s2 = _mm256_add_pd(s2, _mm256_cvtps_pd(_mm_loadu_ps(row + x + 8)));
        s3 = _mm256_add_pd(s3, _mm256_cvtps_pd(_mm_loadu_ps(row + x + 12)));
        rowCount += 16;
      } else {
        const __m256 am = _mm256_and_ps(va, a);
        const __m256 bm = _mm256_and_ps(vb, b);
        s0 = _mm256_add_pd(s0, _mm256_cvtps_pd(_mm256_castps256_ps128(am)));
        s1 = _mm256_add_pd(s1, _mm256_cvtps_pd(_mm256_extractf128_ps(am, 1)));
        s2 = _mm256_add_pd(s2, _mm256_cvtps_pd(_mm256_castps256_ps128(bm)));
        s3 = _mm256_add_pd(s3, _mm256_cvtps_pd(_mm256_extractf128_ps(bm, 1)));
        rowCount += _mm_popcnt_u32(unsigned(m));
      }
    }
    _mm256_storeu_pd(&acc[0], s0);
    _mm256_storeu_pd(&acc[4], s1);
    _mm256_storeu_pd(&acc[8], s2);
    _mm256_storeu_pd(&acc[12], s3);
    n += rowCount;
    AddRowTail(row, x, w, acc, n);
  }
  sum = ReduceSumLanes(acc);
  count = n;
}
#endif

// Above this many bytes a copy bypasses the caches on its stores: the target
// would not stay cached anyway, and the stores then need no reads of it first.
constexpr uint64_t StreamingCopyBytes = uint64_t(4) << 20;

#if ASTRELON_HAVE_SSE2
void CopyRowStreaming(const float* src, float* dst, int64_t w) {
  int64_t x = 0;
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

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 void CopyRowStreamingAvx2(const float* src, float* dst, int64_t w) {
  int64_t x = 0;
  while (x < w && (reinterpret_cast<uintptr_t>(dst + x) & 63) != 0) {
    dst[x] = src[x];
    ++x;
  }
  for (; x + 32 <= w; x += 32) {
    const __m256 a = _mm256_loadu_ps(src + x);
    const __m256 b = _mm256_loadu_ps(src + x + 8);
    const __m256 c = _mm256_loadu_ps(src + x + 16);
    const __m256 d = _mm256_loadu_ps(src + x + 24);
    _mm256_stream_ps(dst + x, a);
    _mm256_stream_ps(dst + x + 8, b);
    _mm256_stream_ps(dst + x + 16, c);
    _mm256_stream_ps(dst + x + 24, d);
  }
  for (; x + 8 <= w; x += 8) _mm256_stream_ps(dst + x, _mm256_loadu_ps(src + x));
  for (; x < w; ++x) dst[x] = src[x];
}
#endif

}  // namespace

void ScanMinMax(std::span<float> data, int32_t w, int32_t h, int64_t stride, TMinMaxScan& scan, bool vector) {
  CheckRect(data.size(), w, h, stride);
  if (w <= 0 || h <= 0) return;
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) {
    RectMinMaxAvx2(data.data(), w, h, stride, scan);
    return;
  }
#endif
#if ASTRELON_HAVE_SSE2
  if (vector) {
    RectMinMaxSse2(data.data(), w, h, stride, scan);
    return;
  }
#endif
  RectMinMaxScalar(data.data(), w, h, stride, scan);
}

void RectMinMax(std::span<float> data, int32_t w, int32_t h, int64_t stride, float& min, float& max, bool vector) {
  TMinMaxScan scan;
  ScanMinMax(data, w, h, stride, scan, vector);
  scan.Finish(min, max);
}

void RectSum(std::span<const float> data, int32_t w, int32_t h, int64_t stride, double& sum, int64_t& count,
             bool vector) {
  CheckRect(data.size(), w, h, stride);
  sum = 0;
  count = 0;
  if (w <= 0 || h <= 0) return;
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) {
    RectSumAvx2(data.data(), w, h, stride, sum, count);
    return;
  }
#endif
#if ASTRELON_HAVE_SSE2
  if (vector) {
    RectSumSse2(data.data(), w, h, stride, sum, count);
    return;
  }
#endif
  RectSumScalar(data.data(), w, h, stride, sum, count);
}

TAboveCount CountAbove(std::span<const float> data, float threshold) {
  int64_t valid = 0, above = 0;
  size_t i = 0;
#if ASTRELON_HAVE_SSE2
  // Counting is exact in any order, so the SSE2 loop needs no switch. A valid
  // value lies above the threshold exactly when it lies above the larger of the
  // threshold and the blank limit (NaN lies above neither).
  const __m128 limit = _mm_set1_ps(BlankLimit);
  // A NaN threshold stays NaN, so that no value counts as above it.
  const __m128 thr = _mm_set1_ps(threshold > BlankLimit || threshold != threshold ? threshold : BlankLimit);
  const size_t blockEnd = data.size() & ~size_t(15);
  while (i < blockEnd) {
    // Lane counters are flushed before they could overflow.
    const size_t chunkEnd = std::min(blockEnd, i + (size_t(1) << 28));
    __m128i nv0 = _mm_setzero_si128(), nv1 = nv0, na0 = nv0, na1 = nv0;
    for (; i < chunkEnd; i += 16) {
      const float* p = data.data() + i;
      const __m128 a = _mm_loadu_ps(p), b = _mm_loadu_ps(p + 4), c = _mm_loadu_ps(p + 8), d = _mm_loadu_ps(p + 12);
      nv0 = _mm_sub_epi32(nv0, _mm_castps_si128(_mm_cmpgt_ps(a, limit)));
      nv1 = _mm_sub_epi32(nv1, _mm_castps_si128(_mm_cmpgt_ps(b, limit)));
      nv0 = _mm_sub_epi32(nv0, _mm_castps_si128(_mm_cmpgt_ps(c, limit)));
      nv1 = _mm_sub_epi32(nv1, _mm_castps_si128(_mm_cmpgt_ps(d, limit)));
      na0 = _mm_sub_epi32(na0, _mm_castps_si128(_mm_cmpgt_ps(a, thr)));
      na1 = _mm_sub_epi32(na1, _mm_castps_si128(_mm_cmpgt_ps(b, thr)));
      na0 = _mm_sub_epi32(na0, _mm_castps_si128(_mm_cmpgt_ps(c, thr)));
      na1 = _mm_sub_epi32(na1, _mm_castps_si128(_mm_cmpgt_ps(d, thr)));
    }
    alignas(16) int32_t cv[4], ca[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(cv), _mm_add_epi32(nv0, nv1));
    _mm_store_si128(reinterpret_cast<__m128i*>(ca), _mm_add_epi32(na0, na1));
    valid += int64_t(cv[0]) + cv[1] + cv[2] + cv[3];
    above += int64_t(ca[0]) + ca[1] + ca[2] + ca[3];
  }
#endif
  for (; i < data.size(); ++i) {
    const float v = data[i];
    if (IsValidPixel(v)) {
      ++valid;
      if (v > threshold) ++above;
    }
  }
  return {valid, above};
}

int32_t TAboveCount::Percent() const { return Valid > 0 ? int32_t(Above * 100 / Valid) : 0; }

int32_t PercentAbove(std::span<const float> data, float threshold) { return CountAbove(data, threshold).Percent(); }

void CopyRect32(std::span<const float> src, std::span<float> dst, int32_t w, int32_t h, int64_t srcStride,
                int64_t dstStride) {
  if (h < 1 || w < 1) return;
  CheckRect(src.size(), w, h, srcStride);
  CheckRect(dst.size(), w, h, dstStride);
  const uint64_t bytes = uint64_t(w) * uint64_t(h) * sizeof(float);
  // Rows that follow each other without gaps are copied as one run.
  const bool contiguous = srcStride == w && dstStride == w;
  const int32_t rows = contiguous ? 1 : h;
  const int64_t run = contiguous ? int64_t(w) * h : w;
#if ASTRELON_HAVE_AVX2
  if (bytes >= StreamingCopyBytes && Avx2Enabled && CpuHasAvx2()) {
    for (int32_t y = 0; y < rows; ++y)
      CopyRowStreamingAvx2(src.data() + y * srcStride, dst.data() + y * dstStride, run);
    _mm_sfence();
    return;
  }
#endif
#if ASTRELON_HAVE_SSE2
  if (bytes >= StreamingCopyBytes) {
    for (int32_t y = 0; y < rows; ++y) CopyRowStreaming(src.data() + y * srcStride, dst.data() + y * dstStride, run);
    _mm_sfence();
    return;
  }
#endif
  if (contiguous) {
    std::memcpy(dst.data(), src.data(), bytes);
    return;
  }
  for (int32_t y = 0; y < h; ++y)
    std::memcpy(dst.data() + y * dstStride, src.data() + y * srcStride, size_t(w) * sizeof(float));
}

namespace {

// Single words up to the first 16-byte boundary, then aligned stores of four.
template <typename T>
void FillWords(std::span<T> p, bool vector, T value) {
  static_assert(sizeof(T) == 4);
  size_t i = 0;
#if ASTRELON_HAVE_SSE2
  if (vector) {
    while (i < p.size() && (reinterpret_cast<uintptr_t>(p.data() + i) & 15) != 0) p[i++] = value;
    if constexpr (std::is_same_v<T, float>) {
      const __m128 v = _mm_set1_ps(value);
      for (; i + 4 <= p.size(); i += 4) _mm_store_ps(p.data() + i, v);
    } else {
      const __m128i v = _mm_set1_epi32(int32_t(value));
      for (; i + 4 <= p.size(); i += 4) _mm_store_si128(reinterpret_cast<__m128i*>(p.data() + i), v);
    }
  }
#endif
  std::fill(p.begin() + std::ptrdiff_t(i), p.end(), value);
}

}  // namespace

void FillDwords(std::span<uint32_t> p, bool vector, uint32_t value) { FillWords(p, vector, value); }

void FillDwords(std::span<float> p, bool vector, float value) { FillWords(p, vector, value); }

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

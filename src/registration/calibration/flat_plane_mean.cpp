#include "registration/calibration/flat_plane_mean.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <vector>

#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// The sum of a band's valid values, their number, the largest magnitude and
// the least LowBitKey of the non-zero ones.
struct TBandSum {
  double Sum = 0;
  int64_t Count = 0;
  uint32_t MaxBits = 0, MinKey = 0xFFFFFFFF;
};

uint32_t Bits(float v) { return std::bit_cast<uint32_t>(v); }

// Of a magnitude's bits b (not 0): its lowest set bit as a float d (exact: b
// minus b with that bit cleared, or at most the value when that bit is the
// exponent's), as the bits of the float just below d. Every float below that
// one's power of two divides the value.
uint32_t LowBitKey(uint32_t b) {
  const float d = std::bit_cast<float>(b) - std::bit_cast<float>(b & (b - 1));
  return Bits(d) - 1;
}

void AddScalar(const float* v, int64_t first, int64_t n, TBandSum& s) {
  for (int64_t i = first; i < n; ++i) {
    if (!IsValidPixel(v[i])) continue;
    ++s.Count;
    const uint32_t b = Bits(v[i]) & 0x7FFFFFFF;
    if (b == 0) continue;
    s.Sum += v[i];
    s.MaxBits = std::max(s.MaxBits, b);
    s.MinKey = std::min(s.MinKey, LowBitKey(b));
  }
}

#if ASTRELON_HAVE_AVX2
// Eight values a step; blanks count as +0 (whose key is the largest).
// Returns where the scalar loop takes over.
ASTRELON_AVX2 int64_t AddAvx2(const float* v, int64_t n, TBandSum& s) {
  const __m256 limit = _mm256_set1_ps(BlankLimit);
  const __m256i magnitude = _mm256_set1_epi32(0x7FFFFFFF), one = _mm256_set1_epi32(1);
  __m256d sum0 = _mm256_setzero_pd(), sum1 = sum0;
  __m256i count = _mm256_setzero_si256(), maxBits = count, minKey = _mm256_set1_epi32(-1);
  int64_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256 x = _mm256_loadu_ps(v + i);
    const __m256 valid = _mm256_cmp_ps(x, limit, _CMP_GT_OQ);
    const __m256 xv = _mm256_and_ps(valid, x);
    sum0 = _mm256_add_pd(sum0, _mm256_cvtps_pd(_mm256_castps256_ps128(xv)));
    sum1 = _mm256_add_pd(sum1, _mm256_cvtps_pd(_mm256_extractf128_ps(xv, 1)));
    count = _mm256_sub_epi32(count, _mm256_castps_si256(valid));
    const __m256i b = _mm256_and_si256(_mm256_castps_si256(xv), magnitude);
    maxBits = _mm256_max_epu32(maxBits, b);
    const __m256 d = _mm256_sub_ps(_mm256_castsi256_ps(b),
                                   _mm256_castsi256_ps(_mm256_and_si256(b, _mm256_sub_epi32(b, one))));
    minKey = _mm256_min_epu32(minKey, _mm256_sub_epi32(_mm256_castps_si256(d), one));
  }
  alignas(32) double a[4], c[4];
  alignas(32) uint32_t k[8], hi[8], lo[8];
  _mm256_store_pd(a, sum0);
  _mm256_store_pd(c, sum1);
  _mm256_store_si256(reinterpret_cast<__m256i*>(k), count);
  _mm256_store_si256(reinterpret_cast<__m256i*>(hi), maxBits);
  _mm256_store_si256(reinterpret_cast<__m256i*>(lo), minKey);
  for (int j = 0; j < 4; ++j) s.Sum += a[j] + c[j];
  for (int j = 0; j < 8; ++j) {
    s.Count += k[j];
    s.MaxBits = std::max(s.MaxBits, hi[j]);
    s.MinKey = std::min(s.MinKey, lo[j]);
  }
  return i;
}
#endif

void AddRow(const float* v, int64_t n, TBandSum& s, bool vector) {
  int64_t first = 0;
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) first = AddAvx2(v, n, s);
#endif
  AddScalar(v, first, n, s);
}

}  // namespace

std::array<float, 4> FlatPlaneMeans(int slot, std::span<const int> planes, int threads) {
  std::array<float, 4> means{};
  if (!SlotInUse(slot)) return means;
  const TImageSlot& im = Store.Image[size_t(slot)];
  // The planes summed here; GetPlaneMean takes the rest (and any on one thread).
  std::vector<int> summed;
  for (const int p : planes)
    if (p >= 1 && p <= 3 && threads > 1 && im.PixelCount() > 0 && im.Planes[size_t(p)].size() >= im.PixelCount())
      summed.push_back(p);
    else if (p >= 1 && p <= 3)
      means[size_t(p)] = GetPlaneMean(slot, p);
  if (summed.empty()) return means;
  threads = std::min(threads, im.Height);
  const bool vector = Sse2Enabled;
  std::vector<std::array<TBandSum, 4>> bands(static_cast<size_t>(threads));
  ForEachBand(threads, threads, [&](int64_t b0, int64_t b1) {
    for (int64_t b = b0; b < b1; ++b)
      for (int64_t y = int64_t(im.Height) * b / threads; y < int64_t(im.Height) * (b + 1) / threads; ++y)
        for (const int p : summed) AddRow(im.Row(p, int32_t(y)).data(), im.Width, bands[size_t(b)][size_t(p)], vector);
  });
  for (const int p : summed) {
    TBandSum all;
    for (const auto& band : bands) {
      const TBandSum& b = band[size_t(p)];
      all.Sum += b.Sum;
      all.Count += b.Count;
      all.MaxBits = std::max(all.MaxBits, b.MaxBits);
      all.MinKey = std::min(all.MinKey, b.MinKey);
    }
    // u: the power of two of the least key (the smallest subnormal step for a
    // subnormal key); the magnitudes sum to at most count x largest.
    const int32_t field = int32_t(all.MinKey >> 23);
    const double u = std::ldexp(1.0, field > 0 ? field - 127 : -149);
    const bool exact = all.MinKey == 0xFFFFFFFF ||
                       double(all.Count) * double(std::bit_cast<float>(all.MaxBits)) < std::ldexp(u, 51);
    means[size_t(p)] = !exact ? GetPlaneMean(slot, p) : all.Count > 0 ? float(all.Sum / double(all.Count)) : 0.0f;
  }
  return means;
}

}  // namespace astrelon

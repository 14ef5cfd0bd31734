#include "store/planes/value_statistics.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "store/image_slot.h"

namespace astrelon {

double Median(std::vector<double> values) {
  const auto mid = values.begin() + std::ptrdiff_t(values.size() / 2);
  std::nth_element(values.begin(), mid, values.end());
  return *mid;
}

namespace {

// Ascending with NaN after every number (a strict weak order even with NaN present).
// A function object, so that the sorting and selection loops inline it.
constexpr struct {
  bool operator()(float a, float b) const { return a < b || (std::isnan(b) && !std::isnan(a)); }
} FloatLess;

constexpr int32_t LogTableSize = 4096;

// Sums of a run for RobustMean, in the shared lane order.
struct TRunSums {
  double Sum = 0, SumSq = 0;
  float Largest = 0, Smallest = 0;
};

TRunSums RunSumsScalar(std::span<const float> v) {
  TSumLanes s{}, q{};
  float largest = v[0], smallest = v[0];
  for (size_t i = 0; i < v.size(); ++i) {
    const double d = v[i];
    s[i % SumLaneCount] += d;
    q[i % SumLaneCount] += d * d;
    if (v[i] > largest) largest = v[i];
    if (v[i] < smallest) smallest = v[i];
  }
  return {ReduceSumLanes(s), ReduceSumLanes(q), largest, smallest};
}

// Sum and number of the values within `limit` of `centre`.
double KeptSumScalar(std::span<const float> v, double centre, double limit, int64_t& count) {
  TSumLanes s{};
  int64_t n = 0;
  for (size_t i = 0; i < v.size(); ++i) {
    const double d = v[i];
    const bool keep = std::fabs(d - centre) < limit;
    s[i % SumLaneCount] += keep ? d : 0.0;
    n += keep;
  }
  count = n;
  return ReduceSumLanes(s);
}

#if ASTRELON_HAVE_SSE2
// Sixteen values per step, lanes 2j and 2j+1 in register j. The maxps/minps
// operand order keeps the accumulator when a value is NaN, as the scalar
// comparisons do.
TRunSums RunSumsSse2(std::span<const float> v) {
  TSumLanes s{}, q{};
  __m128d sv[8], qv[8];
  for (int j = 0; j < 8; ++j) sv[j] = qv[j] = _mm_setzero_pd();
  __m128 hi = _mm_set1_ps(v[0]), lo = hi;
  size_t i = 0;
  for (; i + 16 <= v.size(); i += 16)
    for (int j = 0; j < 4; ++j) {
      const __m128 a = _mm_loadu_ps(v.data() + i + 4 * j);
      const __m128d a0 = _mm_cvtps_pd(a), a1 = _mm_cvtps_pd(_mm_movehl_ps(a, a));
      sv[2 * j] = _mm_add_pd(sv[2 * j], a0);
      sv[2 * j + 1] = _mm_add_pd(sv[2 * j + 1], a1);
      qv[2 * j] = _mm_add_pd(qv[2 * j], _mm_mul_pd(a0, a0));
      qv[2 * j + 1] = _mm_add_pd(qv[2 * j + 1], _mm_mul_pd(a1, a1));
      hi = _mm_max_ps(a, hi);
      lo = _mm_min_ps(a, lo);
    }
  for (int j = 0; j < 8; ++j) {
    _mm_storeu_pd(&s[size_t(2 * j)], sv[j]);
    _mm_storeu_pd(&q[size_t(2 * j)], qv[j]);
  }
  alignas(16) float h[4], l[4];
  _mm_store_ps(h, hi);
  _mm_store_ps(l, lo);
  float largest = v[0], smallest = v[0];
  for (int j = 0; j < 4; ++j) {
    if (h[j] > largest) largest = h[j];
    if (l[j] < smallest) smallest = l[j];
  }
  for (; i < v.size(); ++i) {
    const double d = v[i];
    s[i % SumLaneCount] += d;
    q[i % SumLaneCount] += d * d;
    if (v[i] > largest) largest = v[i];
    if (v[i] < smallest) smallest = v[i];
  }
  return {ReduceSumLanes(s), ReduceSumLanes(q), largest, smallest};
}

double KeptSumSse2(std::span<const float> v, double centre, double limit, int64_t& count) {
  TSumLanes s{};
  const __m128d c = _mm_set1_pd(centre), lim = _mm_set1_pd(limit);
  const __m128d absMask = _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFFll));
  __m128d sv[8];
  for (__m128d& x : sv) x = _mm_setzero_pd();
  int64_t n = 0;
  size_t i = 0;
  for (; i + 16 <= v.size(); i += 16)
    for (int j = 0; j < 8; ++j) {
      const __m128d x = _mm_cvtps_pd(_mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(v.data() + i + 2 * j))));
      const __m128d k = _mm_cmplt_pd(_mm_and_pd(_mm_sub_pd(x, c), absMask), lim);
      sv[j] = _mm_add_pd(sv[j], _mm_and_pd(k, x));
      const int m = _mm_movemask_pd(k);
      n += (m & 1) + (m >> 1);
    }
  for (int j = 0; j < 8; ++j) _mm_storeu_pd(&s[size_t(2 * j)], sv[j]);
  for (; i < v.size(); ++i) {
    const double d = v[i];
    const bool k = std::fabs(d - centre) < limit;
    s[i % SumLaneCount] += k ? d : 0.0;
    n += k;
  }
  count = n;
  return ReduceSumLanes(s);
}
#endif

}  // namespace

double OutlierClipFactor(int64_t n, double base, double beyond) {
  return n <= LogTableSize ? base + double(Log10Table(int32_t(n))) : beyond;
}

float Log10Table(int32_t n) {
  static const std::array<float, LogTableSize + 1> table = [] {
    std::array<float, LogTableSize + 1> t{};
    for (int32_t i = 1; i <= LogTableSize; ++i) t[size_t(i)] = float(std::log10(double(i)));
    return t;
  }();
  return n >= 1 && n <= LogTableSize ? table[size_t(n)] : float(std::log10(double(n < 1 ? 1 : n)));
}

void SortFloats(std::span<float> values, int64_t lo, int64_t hi) {
  lo = std::max<int64_t>(lo, 0);
  hi = std::min<int64_t>(hi, int64_t(values.size()) - 1);
  if (hi <= lo) return;
  std::sort(values.begin() + lo, values.begin() + hi + 1, FloatLess);
}

float Percentile(std::span<float> values, double fraction) {
  const int64_t n = int64_t(values.size());
  if (n == 0) return BlankPixel;
  if (n == 1) return values[0];
  SortFloats(values, 0, n - 1);
  if (!(fraction > 0.0)) return values[0];  // also for a NaN fraction
  if (fraction >= 1.0) return values[size_t(n - 1)];
  const double pos = double(n - 1) * fraction;
  const int64_t k = std::min<int64_t>(int64_t(pos), n - 2);
  const double lower = values[size_t(k)], upper = values[size_t(k + 1)];
  return float(lower + (upper - lower) * (pos - double(k)));
}

namespace {

constexpr int32_t SelectBins = 1024;

// The histogram passes of the selection over one set of finite values: their
// range, the count of each bin, the values of one bin, the smallest value of
// one bin. A value's bin follows the order of the values; every path computes
// it the same way (and any order-keeping binning would give the same ranks).
struct TBinning {
  float HalfLow = 0, Scale = 0;
  // Values below or above the binned range go to the first or last bin.
  int32_t Bin(float v) const { return int32_t(std::clamp((v / 2 - HalfLow) * Scale, 0.0f, float(SelectBins - 1))); }
};

// The smallest and largest value; false when one is NaN or infinite.
bool RangeScalar(std::span<const float> v, float& lo, float& hi) {
  // Four running minima and maxima.
  float mn[4] = {v[0], v[0], v[0], v[0]}, mx[4] = {v[0], v[0], v[0], v[0]};
  bool finite = true;
  size_t i = 0;
  for (; i + 4 <= v.size(); i += 4)
    for (size_t j = 0; j < 4; ++j) {
      const float x = v[i + j];
      finite &= std::isfinite(x);
      mn[j] = x < mn[j] ? x : mn[j];
      mx[j] = x > mx[j] ? x : mx[j];
    }
  for (; i < v.size(); ++i) {
    finite &= std::isfinite(v[i]);
    mn[0] = std::min(mn[0], v[i]);
    mx[0] = std::max(mx[0], v[i]);
  }
  lo = std::min(std::min(mn[0], mn[1]), std::min(mn[2], mn[3]));
  hi = std::max(std::max(mx[0], mx[1]), std::max(mx[2], mx[3]));
  return finite;
}

// Four partial counts, so that runs of values in one bin do not wait on each other.
using TBinCounts = std::array<std::array<int32_t, SelectBins>, 4>;

void CountScalar(std::span<const float> v, const TBinning& bins, TBinCounts& part) {
  for (size_t j = 0; j < v.size(); ++j) ++part[j & 3][size_t(bins.Bin(v[j]))];
}

// Appends the values of bin b to `out` (room for v.size() + 8 values); their number.
size_t CollectScalar(std::span<const float> v, const TBinning& bins, int32_t b, float* out) {
  size_t n = 0;
  for (float x : v)
    if (bins.Bin(x) == b) out[n++] = x;
  return n;
}

float SmallestInBinScalar(std::span<const float> v, const TBinning& bins, int32_t b, float start) {
  float m = start;
  for (float x : v)
    if (bins.Bin(x) == b && x < m) m = x;
  return m;
}

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 inline __m256i BinsOf(__m256 v, __m256 halfLow, __m256 scale) {
  const __m256 t = _mm256_mul_ps(_mm256_sub_ps(_mm256_mul_ps(v, _mm256_set1_ps(0.5f)), halfLow), scale);
  return _mm256_cvttps_epi32(
      _mm256_min_ps(_mm256_max_ps(t, _mm256_setzero_ps()), _mm256_set1_ps(float(SelectBins - 1))));
}

ASTRELON_AVX2 bool RangeAvx2(std::span<const float> v, float& lo, float& hi) {
  const size_t n = v.size();
  if (n < 8) return RangeScalar(v, lo, hi);
  __m256 mn = _mm256_loadu_ps(v.data()), mx = mn;
  // x − x is 0 exactly for every finite x (NaN for infinities and NaN).
  __m256 finite = _mm256_cmp_ps(_mm256_sub_ps(mn, mn), _mm256_setzero_ps(), _CMP_EQ_OQ);
  size_t i = 8;
  for (; i + 8 <= n; i += 8) {
    const __m256 x = _mm256_loadu_ps(v.data() + i);
    mn = _mm256_min_ps(mn, x);
    mx = _mm256_max_ps(mx, x);
    finite = _mm256_and_ps(finite, _mm256_cmp_ps(_mm256_sub_ps(x, x), _mm256_setzero_ps(), _CMP_EQ_OQ));
  }
  float tlo = 0, thi = 0;
  const bool tail = i == n || RangeScalar(v.subspan(i), tlo, thi);
  lo = HorizontalMin8(mn);
  hi = HorizontalMax8(mx);
  if (i < n) {
    lo = std::min(lo, tlo);
    hi = std::max(hi, thi);
  }
  return tail && _mm256_movemask_ps(finite) == 0xFF;
}

ASTRELON_AVX2 void CountAvx2(std::span<const float> v, const TBinning& bins, TBinCounts& part) {
  const __m256 halfLow = _mm256_set1_ps(bins.HalfLow), scale = _mm256_set1_ps(bins.Scale);
  alignas(32) int32_t b[8];
  size_t j = 0;
  for (; j + 8 <= v.size(); j += 8) {
    _mm256_store_si256(reinterpret_cast<__m256i*>(b), BinsOf(_mm256_loadu_ps(v.data() + j), halfLow, scale));
    for (int l = 0; l < 8; ++l) ++part[size_t(l & 3)][size_t(b[l])];
  }
  for (; j < v.size(); ++j) ++part[j & 3][size_t(bins.Bin(v[j]))];
}

ASTRELON_AVX2 size_t CollectAvx2(std::span<const float> v, const TBinning& bins, int32_t b, float* out) {
  const __m256 halfLow = _mm256_set1_ps(bins.HalfLow), scale = _mm256_set1_ps(bins.Scale);
  const __m256i wanted = _mm256_set1_epi32(b);
  size_t n = 0, j = 0;
  for (; j + 8 <= v.size(); j += 8) {
    const __m256 x = _mm256_loadu_ps(v.data() + j);
    const int m = _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(BinsOf(x, halfLow, scale), wanted)));
    if (m == 0) continue;
    // The values of the bin moved to the front, in order.
    const __m256i index = _mm256_load_si256(reinterpret_cast<const __m256i*>(CompactTable.Index[size_t(m)].data()));
    _mm256_storeu_ps(out + n, _mm256_permutevar8x32_ps(x, index));
    n += size_t(__builtin_popcount(unsigned(m)));
  }
  return n + CollectScalar(v.subspan(j), bins, b, out + n);
}

ASTRELON_AVX2 float SmallestInBinAvx2(std::span<const float> v, const TBinning& bins, int32_t b, float start) {
  const __m256 halfLow = _mm256_set1_ps(bins.HalfLow), scale = _mm256_set1_ps(bins.Scale);
  const __m256i wanted = _mm256_set1_epi32(b);
  __m256 m = _mm256_set1_ps(start);
  size_t j = 0;
  for (; j + 8 <= v.size(); j += 8) {
    const __m256 x = _mm256_loadu_ps(v.data() + j);
    const __m256 in = _mm256_castsi256_ps(_mm256_cmpeq_epi32(BinsOf(x, halfLow, scale), wanted));
    m = _mm256_min_ps(m, _mm256_blendv_ps(m, x, in));
  }
  return std::min(HorizontalMin8(m), SmallestInBinScalar(v.subspan(j), bins, b, start));
}
#endif

// The passes on the vector path where the processor has it; the same results.
struct TSelectPasses {
  bool Avx2 = UseAvx2(Sse2Enabled);
  bool Range(std::span<const float> v, float& lo, float& hi) const {
#if ASTRELON_HAVE_AVX2
    if (Avx2) return RangeAvx2(v, lo, hi);
#endif
    return RangeScalar(v, lo, hi);
  }
  void Count(std::span<const float> v, const TBinning& bins, TBinCounts& part) const {
#if ASTRELON_HAVE_AVX2
    if (Avx2) return CountAvx2(v, bins, part);
#endif
    CountScalar(v, bins, part);
  }
  size_t Collect(std::span<const float> v, const TBinning& bins, int32_t b, float* out) const {
#if ASTRELON_HAVE_AVX2
    if (Avx2) return CollectAvx2(v, bins, b, out);
#endif
    return CollectScalar(v, bins, b, out);
  }
  float SmallestInBin(std::span<const float> v, const TBinning& bins, int32_t b, float start) const {
#if ASTRELON_HAVE_AVX2
    if (Avx2) return SmallestInBinAvx2(v, bins, b, start);
#endif
    return SmallestInBinScalar(v, bins, b, start);
  }
};

// The k-th and (k+1)-th smallest (k + 1 < n) of the values without comparing
// them in random order: a histogram over the value range finds the bin of rank
// k, and only that bin's values are looked at further, the same way a few times
// while there are many. The first histogram spans [hint[0], hint[1]] when a
// hint is given (values outside it fall in its end bins), else the value range.
// False (nothing found) when a value is NaN or infinite.
bool SelectPair(std::span<const float> all, int64_t k, float& lower, float& upper, const float* hint) {
  const TSelectPasses passes;
  std::span<const float> values = all;
  std::vector<float> kept, in;
  for (int level = 0;; ++level) {
    const size_t n = values.size();
    if (n < 512 || level == 4) {
      if (level == 0 && !std::all_of(values.begin(), values.end(), [](float v) { return std::isfinite(v); }))
        return false;
      std::vector<float> v(values.begin(), values.end());
      std::nth_element(v.begin(), v.begin() + k, v.end());
      lower = v[size_t(k)];
      upper = *std::min_element(v.begin() + k + 1, v.end());
      return true;
    }
    float lo = 0, hi = 0;
    if (!passes.Range(values, lo, hi)) return false;
    if (lo == hi) {
      lower = upper = lo;
      return true;
    }
    // Halves keep a range wider than the largest float finite.
    const float width = hi / 2 - lo / 2;
    if (!(width > 0)) {
      // Two neighbouring tiny values whose halves meet: a plain selection.
      std::vector<float> v(values.begin(), values.end());
      std::nth_element(v.begin(), v.begin() + k, v.end());
      lower = v[size_t(k)];
      upper = *std::min_element(v.begin() + k + 1, v.end());
      return true;
    }
    TBinning bins{lo / 2, float(SelectBins) / width};
    if (level == 0 && hint) {
      const float hintWidth = hint[1] / 2 - hint[0] / 2;
      const float scale = float(SelectBins) / hintWidth;
      if (hintWidth > 0 && std::isfinite(hint[0] / 2) && std::isfinite(scale)) bins = {hint[0] / 2, scale};
    }
    TBinCounts part{};
    passes.Count(values, bins, part);
    std::array<int32_t, SelectBins + 1> count{};
    for (size_t b = 0; b < size_t(SelectBins); ++b) count[b] = part[0][b] + part[1][b] + part[2][b] + part[3][b];
    int32_t b = 0;
    int64_t below = 0;
    while (below + count[size_t(b)] <= k) below += count[size_t(b++)];
    in.resize(size_t(count[size_t(b)]) + 8);
    in.resize(passes.Collect(values, bins, b, in.data()));
    const int64_t local = k - below;
    if (local + 1 < int64_t(in.size())) {
      kept.swap(in);
      values = kept;
      k = local;
      continue;
    }
    // Rank k is the largest of its bin; the next value is the smallest of the next bin that holds any.
    lower = *std::max_element(in.begin(), in.end());
    int32_t next = b + 1;
    while (count[size_t(next)] == 0) ++next;
    upper = passes.SmallestInBin(values, bins, next, hi);
    return true;
  }
}

float SelectPercentile(std::span<float> values, double fraction, const float* hint) {
  const int64_t n = int64_t(values.size());
  if (n == 0) return BlankPixel;
  if (n == 1) return values[0];
  if (!(fraction > 0.0)) return *std::min_element(values.begin(), values.end(), FloatLess);
  if (fraction >= 1.0) return *std::max_element(values.begin(), values.end(), FloatLess);
  const double pos = double(n - 1) * fraction;
  const int64_t k = std::min<int64_t>(int64_t(pos), n - 2);
  float lo, hi;
  // Selection by comparison is slow on long runs (its branches go either way).
  if (n < 512 || !SelectPair(values, k, lo, hi, hint)) {
    std::nth_element(values.begin(), values.begin() + k, values.end(), FloatLess);
    lo = values[size_t(k)];
    hi = *std::min_element(values.begin() + k + 1, values.end(), FloatLess);
  }
  const double lower = lo, upper = hi;
  return float(lower + (upper - lower) * (pos - double(k)));
}

}  // namespace

float PercentileSelect(std::span<float> values, double fraction) { return SelectPercentile(values, fraction, nullptr); }

float PercentileSelect(std::span<float> values, double fraction, float hintLow, float hintHigh) {
  const float hint[2] = {hintLow, hintHigh};
  return SelectPercentile(values, fraction, hint);
}

void SortIndices(std::span<const float> values, std::span<int32_t> indices) {
  if (indices.size() <= 1) return;
  for (int32_t i : indices)
    if (i < 0 || size_t(i) >= values.size()) throw std::out_of_range("SortIndices: index outside the values");
  std::stable_sort(indices.begin(), indices.end(),
                   [&](int32_t a, int32_t b) { return FloatLess(values[size_t(a)], values[size_t(b)]); });
}

float MeanWithoutExtremes(std::span<const float> values) {
  const size_t n = values.size();
  if (n == 0) return BlankPixel;
  if (n == 1) return values[0];
  if (n == 2) return float((double(values[0]) + double(values[1])) / 2.0);
  double sum = 0;
  float largest = values[0], smallest = values[0];
  for (float v : values) {
    sum += v;
    if (v > largest) largest = v;
    if (v < smallest) smallest = v;
  }
  return float((sum - largest - smallest) / double(n - 2));
}

float RobustMean(std::span<const float> values, double* variance) {
  return RobustMean(values, variance, Sse2Enabled);
}

float RobustMean(std::span<const float> values, double* variance, bool vector) {
  const int64_t n = int64_t(values.size());
  if (n == 0) return BlankPixel;
  if (n == 1) return values[0];
  if (n == 2) return float((double(values[0]) + double(values[1])) / 2.0);
  bool useVector = false;
#if ASTRELON_HAVE_SSE2
  useVector = vector;
#endif
  TRunSums r;
#if ASTRELON_HAVE_SSE2
  if (useVector) r = RunSumsSse2(values);
#endif
  if (!useVector) r = RunSumsScalar(values);

  auto moments = [](double sum, double sumSq, int64_t m, double& mean, double& var) {
    mean = sum / double(m);
    var = std::max(sumSq / double(m) - mean * mean, 0.001);
  };
  double k = OutlierClipFactor(n, 0.9, 4.52);
  double mean, var;
  double sum = r.Sum, sumSq = r.SumSq;
  int64_t m = n;
  moments(sum, sumSq, m, mean, var);
  if (double(r.Largest) <= mean + std::sqrt(var) * k) {
    k += 0.05;
  } else {
    m = n - 1;
    sum -= double(r.Largest);
    sumSq -= double(r.Largest) * double(r.Largest);
    moments(sum, sumSq, m, mean, var);
    k = OutlierClipFactor(m, 0.95, 4.57);
  }
  if (m < 3 || mean - std::sqrt(var) * k <= double(r.Smallest)) {
    k += 0.05;
  } else {
    m -= 1;
    sum -= double(r.Smallest);
    sumSq -= double(r.Smallest) * double(r.Smallest);
    moments(sum, sumSq, m, mean, var);
    k = OutlierClipFactor(m, 1.0, 4.62);
  }
  const double limit = std::sqrt(var) * k;
  int64_t kept = 0;
  double keptSum = 0;
#if ASTRELON_HAVE_SSE2
  if (useVector) keptSum = KeptSumSse2(values, mean, limit, kept);
#endif
  if (!useVector) keptSum = KeptSumScalar(values, mean, limit, kept);
  if (variance) *variance = var;
  return kept > 0 ? float(keptSum / double(kept)) : BlankPixel;
}

}  // namespace astrelon

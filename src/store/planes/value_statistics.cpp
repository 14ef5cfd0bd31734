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

// The k-th and (k+1)-th smallest (k + 1 < n) of finite values without comparing
// them in random order: a histogram over the value range (its bins follow the
// order of the values) finds the bin of rank k, and only that bin's values are
// looked at further, the same way a few times while there are many.
void SelectPair(std::span<const float> all, int64_t k, float& lower, float& upper) {
  constexpr int32_t Bins = 1024;
  std::span<const float> values = all;
  std::vector<float> kept, in;
  std::vector<uint16_t> binOf;
  for (int level = 0;; ++level) {
    const size_t n = values.size();
    if (n < 512 || level == 4) {
      std::vector<float> v(values.begin(), values.end());
      std::nth_element(v.begin(), v.begin() + k, v.end());
      lower = v[size_t(k)];
      upper = *std::min_element(v.begin() + k + 1, v.end());
      return;
    }
    // Four running minima and maxima.
    float mn[4] = {values[0], values[0], values[0], values[0]}, mx[4] = {mn[0], mn[0], mn[0], mn[0]};
    size_t i = 0;
    for (; i + 4 <= n; i += 4)
      for (size_t j = 0; j < 4; ++j) {
        const float v = values[i + j];
        mn[j] = v < mn[j] ? v : mn[j];
        mx[j] = v > mx[j] ? v : mx[j];
      }
    for (; i < n; ++i) {
      mn[0] = std::min(mn[0], values[i]);
      mx[0] = std::max(mx[0], values[i]);
    }
    const float lo = std::min(std::min(mn[0], mn[1]), std::min(mn[2], mn[3]));
    const float hi = std::max(std::max(mx[0], mx[1]), std::max(mx[2], mx[3]));
    if (lo == hi) {
      lower = upper = lo;
      return;
    }
    // Halves keep a range wider than the largest float finite.
    const float scale = float(Bins) / (hi / 2 - lo / 2);
    binOf.resize(n);
    // Four partial counts, so that runs of values in one bin do not wait on each other.
    std::array<std::array<int32_t, Bins>, 4> part{};
    for (size_t j = 0; j < n; ++j) {
      // Every step keeps the order of the values.
      const uint16_t b = uint16_t(std::min(int32_t((values[j] / 2 - lo / 2) * scale), Bins - 1));
      binOf[j] = b;
      ++part[j & 3][b];
    }
    std::array<int32_t, Bins + 1> count{};
    for (size_t b = 0; b < size_t(Bins); ++b) count[b] = part[0][b] + part[1][b] + part[2][b] + part[3][b];
    int32_t b = 0;
    int64_t below = 0;
    while (below + count[size_t(b)] <= k) below += count[size_t(b++)];
    in.clear();
    for (size_t j = 0; j < n; ++j)
      if (binOf[j] == b) in.push_back(values[j]);
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
    upper = hi;
    for (size_t j = 0; j < n; ++j)
      if (binOf[j] == next && values[j] < upper) upper = values[j];
    return;
  }
}

// SelectPair for any values; false (nothing changed) when one is NaN or infinite.
bool HistogramSelect(std::span<const float> values, int64_t k, float& lower, float& upper) {
  bool finite = true;
  for (float v : values) finite &= std::isfinite(v);
  if (!finite) return false;
  SelectPair(values, k, lower, upper);
  return true;
}

}  // namespace

float PercentileSelect(std::span<float> values, double fraction) {
  const int64_t n = int64_t(values.size());
  if (n == 0) return BlankPixel;
  if (n == 1) return values[0];
  if (!(fraction > 0.0)) return *std::min_element(values.begin(), values.end(), FloatLess);
  if (fraction >= 1.0) return *std::max_element(values.begin(), values.end(), FloatLess);
  const double pos = double(n - 1) * fraction;
  const int64_t k = std::min<int64_t>(int64_t(pos), n - 2);
  float lo, hi;
  // Selection by comparison is slow on long runs (its branches go either way).
  if (n < 512 || !HistogramSelect(values, k, lo, hi)) {
    std::nth_element(values.begin(), values.begin() + k, values.end(), FloatLess);
    lo = values[size_t(k)];
    hi = *std::min_element(values.begin() + k + 1, values.end(), FloatLess);
  }
  const double lower = lo, upper = hi;
  return float(lower + (upper - lower) * (pos - double(k)));
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

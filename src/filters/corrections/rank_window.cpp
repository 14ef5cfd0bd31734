#include "filters/corrections/rank_window.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "platform/simd_support.h"

namespace astrelon {

namespace {

constexpr float Inf = std::numeric_limits<float>::infinity();
constexpr int Pivots = 7;
// Brackets of more values than this are narrowed by another counting pass.
constexpr int64_t BracketValues = 256;
constexpr int CountingPasses = 3;

// What lies outside a window: the number and the largest of the values below
// it, the smallest at or above it.
struct TOutside {
  int64_t Below = 0;
  float MaxBelow = -std::numeric_limits<float>::infinity();
  float MinAbove = std::numeric_limits<float>::infinity();
  void Add(const TOutside& o) {
    Below += o.Below;
    MaxBelow = std::max(MaxBelow, o.MaxBelow);
    MinAbove = std::min(MinAbove, o.MinAbove);
  }
};

using TPivots = std::array<float, Pivots>;
using TCounts = std::array<int64_t, Pivots>;

// counts[j] = number of values below pivots[j].
void CountBelowScalar(std::span<const float> v, size_t from, const TPivots& pivots, TCounts& counts) {
  for (size_t i = from; i < v.size(); ++i)
    for (int j = 0; j < Pivots; ++j) counts[size_t(j)] += v[i] < pivots[size_t(j)];
}

// Values in [lo, hi) appended at out (room for one store of eight past them; out
// may be where the values are); the rest counted below or kept as extremes.
size_t WindowScalar(std::span<const float> v, size_t from, float lo, float hi, float* out, TOutside& w) {
  size_t n = 0;
  for (size_t i = from; i < v.size(); ++i) {
    const float x = v[i];
    if (x < lo) {
      ++w.Below;
      w.MaxBelow = std::max(w.MaxBelow, x);
    } else if (x < hi) {
      out[n++] = x;
    } else {
      w.MinAbove = std::min(w.MinAbove, x);
    }
  }
  return n;
}

void NearScalar(std::span<const float> v, size_t from, float c, float t, int64_t& below, int64_t& inside) {
  for (size_t i = from; i < v.size(); ++i) {
    const float d = v[i] - c;
    below += !(d > -t);
    inside += std::fabs(d) < t;
  }
}

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 int64_t LaneSum(__m256i c) {
  alignas(32) int32_t l[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(l), c);
  int64_t s = 0;
  for (int32_t x : l) s += x;
  return s;
}

ASTRELON_AVX2 void CountBelowAvx2(std::span<const float> v, const TPivots& pivots, TCounts& counts) {
  __m256 p[Pivots];
  __m256i c[Pivots];
#pragma GCC unroll 8
  for (int j = 0; j < Pivots; ++j) {
    p[j] = _mm256_set1_ps(pivots[size_t(j)]);
    c[j] = _mm256_setzero_si256();
  }
  size_t i = 0;
  for (; i + 8 <= v.size(); i += 8) {
    const __m256 x = _mm256_loadu_ps(v.data() + i);
#pragma GCC unroll 8
    for (int j = 0; j < Pivots; ++j) c[j] = _mm256_sub_epi32(c[j], _mm256_castps_si256(_mm256_cmp_ps(x, p[j], _CMP_LT_OQ)));
  }
  for (int j = 0; j < Pivots; ++j) counts[size_t(j)] += LaneSum(c[j]);
  CountBelowScalar(v, i, pivots, counts);
}

ASTRELON_AVX2 size_t WindowAvx2(std::span<const float> v, float lo, float hi, float* out, TOutside& w) {
  const __m256 l = _mm256_set1_ps(lo), h = _mm256_set1_ps(hi);
  __m256 maxBelow = _mm256_set1_ps(-Inf), minAbove = _mm256_set1_ps(Inf);
  __m256i below = _mm256_setzero_si256();
  size_t n = 0, i = 0;
  for (; i + 8 <= v.size(); i += 8) {
    const __m256 x = _mm256_loadu_ps(v.data() + i);
    const __m256 under = _mm256_cmp_ps(x, l, _CMP_LT_OQ);
    const __m256 underHigh = _mm256_cmp_ps(x, h, _CMP_LT_OQ);
    const __m256 in = _mm256_andnot_ps(under, underHigh);
    below = _mm256_sub_epi32(below, _mm256_castps_si256(under));
    maxBelow = _mm256_max_ps(maxBelow, _mm256_blendv_ps(maxBelow, x, under));
    minAbove = _mm256_min_ps(minAbove, _mm256_blendv_ps(x, minAbove, underHigh));
    const int m = _mm256_movemask_ps(in);
    const __m256i index = _mm256_load_si256(reinterpret_cast<const __m256i*>(CompactTable.Index[size_t(m)].data()));
    _mm256_storeu_ps(out + n, _mm256_permutevar8x32_ps(x, index));
    n += size_t(__builtin_popcount(unsigned(m)));
  }
  w.Below += LaneSum(below);
  w.MaxBelow = std::max(w.MaxBelow, HorizontalMax8(maxBelow));
  w.MinAbove = std::min(w.MinAbove, HorizontalMin8(minAbove));
  return n + WindowScalar(v, i, lo, hi, out + n, w);
}

ASTRELON_AVX2 void NearAvx2(std::span<const float> v, float c, float t, int64_t& below, int64_t& inside) {
  const __m256 cv = _mm256_set1_ps(c), tv = _mm256_set1_ps(t), mt = _mm256_set1_ps(-t);
  const __m256 absMask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
  __m256i b = _mm256_setzero_si256(), in = _mm256_setzero_si256();
  size_t i = 0;
  for (; i + 8 <= v.size(); i += 8) {
    const __m256 d = _mm256_sub_ps(_mm256_loadu_ps(v.data() + i), cv);
    b = _mm256_sub_epi32(b, _mm256_castps_si256(_mm256_cmp_ps(d, mt, _CMP_NGT_UQ)));
    in = _mm256_sub_epi32(in, _mm256_castps_si256(_mm256_cmp_ps(_mm256_and_ps(d, absMask), tv, _CMP_LT_OQ)));
  }
  below += LaneSum(b);
  inside += LaneSum(in);
  NearScalar(v, i, c, t, below, inside);
}
#endif

void CountBelow(std::span<const float> v, const TPivots& pivots, TCounts& counts, bool vector) {
  counts.fill(0);
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) return CountBelowAvx2(v, pivots, counts);
#endif
  CountBelowScalar(v, 0, pivots, counts);
}

// Moves the values in [lo, hi) to out; what lies outside them.
size_t FillWindow(std::span<const float> v, float lo, float hi, float* out, TOutside& o, bool vector) {
  o = TOutside{};
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) return WindowAvx2(v, lo, hi, out, o);
#endif
  return WindowScalar(v, 0, lo, hi, out, o);
}

// Finite pivots in ascending order (equal neighbours allowed).
bool Ascending(const TPivots& p) {
  for (int j = 0; j < Pivots; ++j)
    if (!std::isfinite(p[size_t(j)]) || (j > 0 && p[size_t(j)] < p[size_t(j - 1)])) return false;
  return true;
}

bool Shows(const TRankWindow& w, int64_t k) { return k >= w.Below - 1 && k < w.Below + int64_t(w.Count); }

// The window now holds `count` values of [lo, hi]; o describes those outside it.
void PlaceWindow(TRankWindow& w, size_t count, const TOutside& o, float lo, float hi) {
  w.Count = count;
  w.Below = o.Below;
  w.MaxBelow = o.MaxBelow;
  w.MinAbove = o.MinAbove;
  w.Low = lo;
  w.High = hi;
}

}  // namespace

bool TRankWindow::Value(int64_t r, float& out) {
  const int64_t local = r - Below, n = int64_t(Count);
  if (r < 0 || r >= Total) return false;
  if (local == -1) {
    out = MaxBelow;
  } else if (local >= 0 && local < n) {
    std::nth_element(Store.begin(), Store.begin() + local, Store.begin() + n);
    out = Store[size_t(local)];
  } else if (local == n) {
    out = MinAbove;
  } else {
    return false;
  }
  return true;
}

bool TRankWindow::Pair(int64_t r, float& lower, float& upper) {
  const int64_t local = r - Below, n = int64_t(Count);
  if (r < 0 || r + 1 >= Total || local < -1 || local >= n) return false;
  if (local == -1) {
    lower = MaxBelow;
    upper = n > 0 ? *std::min_element(Store.begin(), Store.begin() + n) : MinAbove;
    return true;
  }
  std::nth_element(Store.begin(), Store.begin() + local, Store.begin() + n);
  lower = Store[size_t(local)];
  upper = local + 1 < n ? *std::min_element(Store.begin() + local + 1, Store.begin() + n) : MinAbove;
  return true;
}

bool FindRankWindow(std::span<const float> v, int64_t k, float guess, float step, TRankWindow& w, bool vector) {
  const int64_t n = int64_t(v.size());
  if (k < 0 || k + 1 >= n || !std::isfinite(guess) || !(step > 0) || !std::isfinite(step)) return false;
  if (w.Store.size() < v.size() + 8) w.Store.resize(v.size() + 8);
  if (w.Scratch.size() < v.size() + 8) w.Scratch.resize(v.size() + 8);
  TPivots p;
  for (int j = 0; j < Pivots; ++j) p[size_t(j)] = guess + float(j - Pivots / 2) * step;
  // The values searched (first all, then those of a bracket) and what lies
  // below and above them.
  std::span<const float> values = v;
  TOutside outside;
  TCounts c;
  for (int pass = 0;; ++pass) {
    if (!Ascending(p)) return false;
    CountBelow(values, p, c, vector);
    // The bracket [p[j], p[j + 1]) that holds rank k.
    const int64_t r = k - outside.Below;
    if (r < c[0] || r >= c[Pivots - 1]) return false;
    int j = 0;
    while (r >= c[size_t(j + 1)]) ++j;
    const float a = p[size_t(j)], b = p[size_t(j + 1)];
    const int64_t m = c[size_t(j + 1)] - c[size_t(j)];
    auto window = [&](std::span<const float> from, float lo, float hi, float* out) {
      TOutside o;
      const size_t count = FillWindow(from, lo, hi, out, o, vector);
      o.Add(outside);
      return std::pair{count, o};
    };
    if (m > BracketValues && pass + 1 < CountingPasses) {
      // Only the bracket's values are searched further.
      const auto [count, o] = window(values, a, b, w.Scratch.data());
      values = std::span<const float>(w.Scratch.data(), count);
      outside = o;
      for (int i = 0; i < Pivots; ++i) p[size_t(i)] = a + (b - a) * (float(i) / float(Pivots - 1));
      p[Pivots - 1] = b;
      continue;
    }
    auto fill = [&](float lo, float hi) {
      const auto [count, o] = window(values, lo, hi, w.Store.data());
      PlaceWindow(w, count, o, lo, hi);
      w.Total = n;
      return Shows(w, k);
    };
    // Rank k where the bracket's values would lie evenly, with a margin.
    const double at = (double(r - c[size_t(j)]) + 0.5) / double(m);
    const double margin = (8.0 + double(m) / 16.0) / double(m);
    const float lo = std::max(a, float(double(a) + double(b - a) * (at - margin)));
    const float hi = std::min(b, float(double(a) + double(b - a) * (at + margin)));
    if (lo < hi && fill(lo, hi)) return true;
    return fill(a, b);
  }
}

constexpr size_t Sample = 64;

std::array<float, Sample> SampleOf(std::span<const float> v) {
  std::array<float, Sample> s;
  for (size_t i = 0; i < Sample; ++i) s[i] = v[i * v.size() / Sample];
  return s;
}

float SampleGuess(std::span<const float> v, int64_t k) {
  if (v.size() < Sample || k < 0 || k >= int64_t(v.size())) return std::numeric_limits<float>::quiet_NaN();
  std::array<float, Sample> s = SampleOf(v);
  const size_t at = size_t(k) * Sample / v.size();
  std::nth_element(s.begin(), s.begin() + at, s.end());
  return s[at];
}

float SampleSpread(std::span<const float> v) {
  if (v.size() < Sample) return 0.0f;
  std::array<float, Sample> s = SampleOf(v);
  std::sort(s.begin(), s.end());
  const float d = s[5 * Sample / 8] - s[3 * Sample / 8];
  return std::isfinite(d) ? d : 0.0f;
}

bool MoveRankWindow(std::span<const float> v, int64_t k, TRankWindow& w, bool vector) {
  const int64_t n = int64_t(v.size());
  if (k < 0 || k + 1 >= n || w.Total != n || w.Count == 0 || !(w.High > w.Low)) return false;
  const double density = double(w.Count) / (double(w.High) - double(w.Low));
  const double shift = double(k) - (double(w.Below) + 0.5 * double(w.Count));
  const double at = double(w.Low) + (double(k - w.Below) + 0.5) / density;
  const double half = (12.0 + 0.25 * std::fabs(shift)) / density;
  const float lo = float(at - half), hi = float(at + half);
  if (!(lo < hi) || !std::isfinite(lo) || !std::isfinite(hi)) return false;
  TOutside o;
  const size_t count = FillWindow(v, lo, hi, w.Store.data(), o, vector);
  PlaceWindow(w, count, o, lo, hi);
  return Shows(w, k);
}

void CountNearLevel(std::span<const float> v, float c, float t, int64_t& below, int64_t& inside, bool vector) {
  below = inside = 0;
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) return NearAvx2(v, c, t, below, inside);
#endif
  NearScalar(v, 0, c, t, below, inside);
}

int64_t QuantileRank(int64_t n, double fraction) {
  return std::min<int64_t>(int64_t(double(n - 1) * fraction), n - 2);
}

float InterpolateQuantile(float lower, float upper, int64_t n, double fraction) {
  const double pos = double(n - 1) * fraction;
  const int64_t k = QuantileRank(n, fraction);
  const double lo = lower, hi = upper;
  return float(lo + (hi - lo) * (pos - double(k)));
}

}  // namespace astrelon

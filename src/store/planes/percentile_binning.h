#pragma once
// The 65536 bins of the percentile levels and the ranks their walks stop at,
// shared by the histogram paths and the selection by order statistics.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "platform/simd_support.h"

namespace astrelon::percentile {

constexpr int32_t HistogramBins = 65536;
constexpr int32_t SearchedBins = 65000;  // bins 0..65000 hold valid pixels
constexpr int32_t BlankBin = HistogramBins - 1;

// Bin of a valid value: Round((v - mn) * 65000 / range), range = max(mx - mn, 0.001).
struct TBinning {
  float Mn;
  double Scale;
  TBinning(float mn, float mx) : Mn(mn), Scale(double(SearchedBins) / std::max(double(mx) - double(mn), 0.001)) {}
  int32_t Bin(float v) const {
    const double x = std::clamp((double(v) - double(Mn)) * Scale, 0.0, double(BlankBin));
#if ASTRELON_HAVE_SSE2
    // The processor's conversion in its default mode: nearest, ties to even, as
    // nearbyint, without a library call per pixel.
    return _mm_cvtsd_si32(_mm_set_sd(x));
#else
    return int32_t(std::nearbyint(x));
#endif
  }
  double Level(int32_t bin) const { return double(bin) / Scale + double(Mn); }
};

// Round(count * pct) div 100.
inline int64_t TargetCount(int64_t count, double pct) {
  double t = double(count) * pct;
  if (!(t == t)) t = 0.0;
  return int64_t(std::nearbyint(std::clamp(t, -9.0e18, 9.0e18))) / 100;
}

// Below 50 % the walk stops at the bin of the target-th smallest value; from
// 50 % on at the bin of the (target+1)-th smallest. Rank (1-based) of that
// value; 0 when the walk ends at bin 0 without one, -1 when it ends at bin
// 65000 without one.
inline int64_t RankOfLevel(double pct, int64_t count) {
  const int64_t target = TargetCount(count, pct);
  if (pct < 50) return target <= 0 ? 0 : (target > count ? -1 : target);
  return target >= count ? -1 : (target < 0 ? 0 : target + 1);
}

// Bins of n values (valid ones, after the clamp above 1e18) as TBinning::Bin
// gives them: the same subtraction, product, clamp and conversion, several
// values side by side when `vector`.
void ValueBins(const float* v, int64_t n, const TBinning& b, int32_t* out, bool vector);

// Threads worth starting for a pass over w x h pixels (1 for small rectangles or
// without "Multicores").
int PassThreads(int32_t w, int32_t h);

}  // namespace astrelon::percentile

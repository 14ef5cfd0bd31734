#include "registration/stacking/stack_statistic.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "platform/simd_support.h"
#include "platform/vector_lanes.h"
#include "registration/stacking/sorting_network.h"
#include "store/image_slot.h"
#include "store/planes/value_statistics.h"

// The helpers below are always inlined, so the calling convention of 32-byte
// vectors outside AVX functions never applies.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {
float SigmaStatistic(std::span<float> values);
}  // namespace

float StackValuesStatistic(TStackMethod method, std::span<float> values) {
  switch (method) {
    case TStackMethod::Sigma: return SigmaStatistic(values);
    case TStackMethod::MeanMed: return MeanWithoutExtremes(values);
    default: return Percentile(values, 0.5);
  }
}

namespace {

// Most frames whose median the network takes; more go the scalar way.
constexpr int32_t MaxNetworkFrames = 64;

// For each frame count n: the steps that put the values of ranks k and k + 1
// (k = (n - 1) / 2, at most n - 2) in place, as Percentile at 0.5 reads them.
struct TMedianNetwork {
  std::vector<TCompareExchange> Steps;
  int32_t K = 0;
  double Fraction = 0;
};

const TMedianNetwork& MedianNetwork(int32_t n) {
  static const std::vector<TMedianNetwork> networks = [] {
    std::vector<TMedianNetwork> all(size_t(MaxNetworkFrames) + 1);
    for (int32_t m = 2; m <= MaxNetworkFrames; ++m) {
      TMedianNetwork& net = all[size_t(m)];
      const double pos = double(m - 1) * 0.5;
      net.K = std::min<int32_t>(int32_t(pos), m - 2);
      net.Fraction = pos - double(net.K);
      const std::vector<TCompareExchange> full = SortingNetwork(m);
      const std::array<int32_t, 2> ranks{net.K, net.K + 1};
      net.Steps = NetworkForPositions(full, ranks);
    }
    return all;
  }();
  return networks[size_t(n)];
}

// Sigma: values more than StackOutlierDeviations robust deviations (1.4826
// times the median absolute deviation) from the median are left out before
// RobustMean, the others keeping their order. RobustMean drops one extreme
// value and clips about the mean; two or three frames whose dithers put the
// same hot pixel or hit on one place widen its spread enough for them to stay.
// The median and the median deviation (of the values' copy) come from the
// median network where it serves, without branches.
float SigmaStatistic(std::span<float> values) {
  const size_t n = values.size();
  if (n < StackOutlierMinFrames) return RobustMean(values);
  std::array<float, MaxNetworkFrames> local;
  std::vector<float> heap;
  const bool network = n <= local.size();
  if (!network) heap.resize(n);
  const std::span<float> work = network ? std::span<float>(local).first(n) : std::span<float>(heap);
  const auto middle = [&] {
    if (!network) {
      std::nth_element(work.begin(), work.begin() + std::ptrdiff_t(n / 2), work.end());
    } else {
      for (const auto& [a, b] : MedianNetwork(int32_t(n)).Steps) {
        const float u = work[size_t(a)], v = work[size_t(b)];
        work[size_t(a)] = std::min(u, v);
        work[size_t(b)] = std::max(u, v);
      }
    }
    return work[n / 2];
  };
  std::copy(values.begin(), values.end(), work.begin());
  const float median = middle();
  for (size_t i = 0; i < n; ++i) work[i] = std::fabs(values[i] - median);
  const double limit = StackOutlierDeviations * 1.4826 * double(middle());
  if (!(limit > 0)) return RobustMean(values);
  size_t kept = 0;
  for (size_t i = 0; i < n; ++i)
    if (std::fabs(double(values[i]) - median) <= limit) values[kept++] = values[i];
  return RobustMean(values.first(kept));
}

void ScalarPixels(TStackMethod method, std::span<const float* const> frames, int32_t first, int32_t last,
                  float level, float* out, std::vector<float>& values) {
  for (int32_t x = first; x < last; ++x) {
    size_t n = 0;
    for (const float* f : frames) {
      const float v = f[x];
      if (IsValidPixel(v)) values[n++] = v;
    }
    out[x] = n == 0 ? BlankPixel : StackValuesStatistic(method, std::span(values.data(), n)) + level;
  }
}

// Lanes of V pixels from x on whose values are all valid go through the
// network; returns false (nothing written) when a value is not valid. The
// ranks' values are the same as sorting gives, and the interpolation between
// them runs in double as in Percentile.
template <class V, class D>
[[gnu::always_inline]] inline bool MedianLanes(std::span<const float* const> frames, int32_t x,
                                               const TMedianNetwork& net, float level, float* out, V* work) {
  using simd::LoadLanes;
  const V limit = simd::Splat<V>(BlankLimit);
  work[0] = LoadLanes<V>(frames[0] + x);
  auto valid = work[0] > limit;
  for (size_t i = 1; i < frames.size(); ++i) {
    work[i] = LoadLanes<V>(frames[i] + x);
    valid &= work[i] > limit;
  }
  for (int l = 0; l < simd::LaneCount<V>; ++l)
    if (!valid[l]) return false;
  for (const auto& [a, b] : net.Steps) {
    const V u = work[a], v = work[b];
    work[a] = simd::LaneMin(u, v);
    work[b] = simd::LaneMax(u, v);
  }
  const D lower = __builtin_convertvector(work[net.K], D), upper = __builtin_convertvector(work[net.K + 1], D);
  const D median = lower + (upper - lower) * net.Fraction;
  simd::StoreLanes(out + x, __builtin_convertvector(median, V) + level);
  return true;
}

template <class V, class D>
[[gnu::always_inline]] inline void MedianPixels(std::span<const float* const> frames, int32_t pixels, float level,
                                                float* out, std::vector<float>& values) {
  constexpr int32_t L = simd::LaneCount<V>;
  const TMedianNetwork& net = MedianNetwork(int32_t(frames.size()));
  std::array<V, MaxNetworkFrames> work;
  int32_t x = 0;
  for (; x + L <= pixels; x += L)
    if (!MedianLanes<V, D>(frames, x, net, level, out, work.data()))
      ScalarPixels(TStackMethod::Median, frames, x, x + L, level, out, values);
  ScalarPixels(TStackMethod::Median, frames, x, pixels, level, out, values);
}

typedef double TVec8d __attribute__((vector_size(64)));

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 void MedianPixelsAvx2(std::span<const float* const> frames, int32_t pixels, float level, float* out,
                                   std::vector<float>& values) {
  MedianPixels<simd::TVec8f, TVec8d>(frames, pixels, level, out, values);
}
#endif

void MedianPixelsSse(std::span<const float* const> frames, int32_t pixels, float level, float* out,
                     std::vector<float>& values) {
  MedianPixels<simd::TVec4f, simd::TVec4d>(frames, pixels, level, out, values);
}

}  // namespace

void CombineStackPixels(TStackMethod method, std::span<const float* const> frames, int32_t pixels, float level,
                        float* out, bool vector) {
  thread_local std::vector<float> values;
  if (values.size() < frames.size()) values.resize(frames.size());
  const int32_t n = int32_t(frames.size());
  if (vector && method == TStackMethod::Median && n >= 2 && n <= MaxNetworkFrames) {
#if ASTRELON_HAVE_AVX2
    if (UseAvx2(true)) return MedianPixelsAvx2(frames, pixels, level, out, values);
#endif
#if ASTRELON_HAVE_SSE2
    return MedianPixelsSse(frames, pixels, level, out, values);
#endif
  }
  ScalarPixels(method, frames, 0, pixels, level, out, values);
}

}  // namespace astrelon

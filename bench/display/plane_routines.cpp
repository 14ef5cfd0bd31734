// Speed of the plane routines on a 4096 x 4096 plane on one thread (scalar and
// SSE2 path), each against a plain SSE2 loop that reads the same plane once on
// one thread, as fast as the memory delivers (measured in the same iterations;
// figure "plain"). The goals (vector path / scalar path) follow the work per
// value: one read and a compare or add 1.2 / 2.5 (minimum and maximum, share
// above a level, search for blanks), a sum in double 1.5 / 3, a copy (a read
// and a write) 2 / 2, the percentile levels (a histogram) 3 / 4, the noise
// estimates 3 / 5.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "peer_measure.h"
#include "platform/processor_features.h"
#include "star_field.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"
#include "store/planes/plane_routines.h"

namespace astrelon {
namespace {

constexpr int Side = 4096;
constexpr int Slot = 1;

// Sky background with noise, a few thousand stars, and blank rows at the bottom
// (as an aligned frame has), so that a search for blanks reads nearly all of it.
struct TBenchPlane {
  TBenchPlane() {
    Store.Reset();
    Store.InUse[Slot] = 1;
    TImageSlot& im = Store.Image[Slot];
    im.Width = im.Height = Side;
    im.PlaneCount = 1;
    im.AllocatePlanes(1);
    TPlane& p = im.Planes[1];
    std::mt19937 rng(42);
    bench::FillStarField(p, Side, rng, 3000);
    for (size_t i = size_t(Side - 8) * Side; i < p.size(); ++i) p[i] = BlankPixel;
    copy.assign(p.size(), 0.0f);
    UpdateMinMax(Slot);
  }
  std::span<float> Plane() { return Store.Image[Slot].Planes[1]; }
  std::vector<float> copy;
};

TBenchPlane& Bench() {
  static TBenchPlane plane;
  return plane;
}

// The baseline: one pass reading every value, as fast as the memory delivers.
uint32_t ReadPlaneOnce(std::span<const float> p) {
#if defined(__SSE2__)
  __m128i a = _mm_setzero_si128(), b = a, c = a, d = a;
  const __m128i* q = reinterpret_cast<const __m128i*>(p.data());
  const size_t n = p.size() / 16;
  for (size_t i = 0; i < n; ++i) {
    a = _mm_add_epi32(a, _mm_loadu_si128(q + 4 * i));
    b = _mm_add_epi32(b, _mm_loadu_si128(q + 4 * i + 1));
    c = _mm_add_epi32(c, _mm_loadu_si128(q + 4 * i + 2));
    d = _mm_add_epi32(d, _mm_loadu_si128(q + 4 * i + 3));
  }
  alignas(16) uint32_t r[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(r), _mm_add_epi32(_mm_add_epi32(a, b), _mm_add_epi32(c, d)));
  return r[0] + r[1] + r[2] + r[3];
#else
  uint32_t s = 0;
  for (float v : p) s += std::bit_cast<uint32_t>(v);
  return s;
#endif
}

// Goals for the vector and the scalar path.
struct TGoals {
  double Vector, Scalar;
};

template <typename F>
void RunAgainstBaseline(benchmark::State& state, TGoals goals, F routine) {
  TBenchPlane& b = Bench();
  const bool saved = Sse2Enabled;
  const bool vector = state.range(0) != 0;
  Sse2Enabled = vector;
  bench::WithThreads(state, 1, [&] {
    bench::Measure(state, routine,
                   {{"plain", [&b] { benchmark::DoNotOptimize(ReadPlaneOnce(b.Plane())); },
                     vector ? goals.Vector : goals.Scalar}});
  });
  Sse2Enabled = saved;
}

void BM_RectMinMax(benchmark::State& state) {
  RunAgainstBaseline(state, {1.2, 2.5}, [] {
    float mn, mx;
    RectMinMax(Bench().Plane(), Side, Side, Side, mn, mx, Sse2Enabled);
    benchmark::DoNotOptimize(mn + mx);
  });
}

void BM_RectSum(benchmark::State& state) {
  RunAgainstBaseline(state, {1.5, 3}, [] {
    double sum;
    int64_t count;
    RectSum(Bench().Plane(), Side, Side, Side, sum, count, Sse2Enabled);
    benchmark::DoNotOptimize(sum);
  });
}

void BM_PercentAbove(benchmark::State& state) {
  RunAgainstBaseline(state, {1.2, 2.5},
                     [] { benchmark::DoNotOptimize(PercentAbove(Bench().Plane(), 1020.0f)); });
}

void BM_HasBlankPixels(benchmark::State& state) {
  RunAgainstBaseline(state, {1.2, 2.5}, [] { benchmark::DoNotOptimize(HasBlankPixels(Slot)); });
}

void BM_CopyRect32(benchmark::State& state) {
  RunAgainstBaseline(state, {2, 2}, [] {
    CopyRect32(Bench().Plane(), Bench().copy, Side, Side, Side, Side);
    benchmark::ClobberMemory();
  });
}

void BM_GetPercentileLevels(benchmark::State& state) {
  RunAgainstBaseline(state, {3, 4}, [] {
    TPercentileLevels levels;
    GetPercentileLevels(Slot, 1, 0, Side - 1, 0, Side - 1, 0.2, 99.95, levels);
    benchmark::DoNotOptimize(levels.LevelA + levels.LevelB);
  });
}

void BM_EstimateNoise(benchmark::State& state) {
  RunAgainstBaseline(state, {3, 5}, [] { benchmark::DoNotOptimize(EstimateNoise(Slot, 1)); });
}

void BM_EstimateNoiseClipped(benchmark::State& state) {
  RunAgainstBaseline(state, {3, 5},
                     [] { benchmark::DoNotOptimize(EstimateNoiseClipped(Bench().Plane(), Sse2Enabled)); });
}

// Argument: 0 scalar path, 1 SSE2 path (routines without a switch run the same code for both).
#define PLANE_BENCH(fn)          \
  ASTRELON_FIGURES(fn, "plain"); \
  BENCHMARK(fn)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0)
PLANE_BENCH(BM_RectMinMax);
PLANE_BENCH(BM_RectSum);
PLANE_BENCH(BM_PercentAbove);
PLANE_BENCH(BM_HasBlankPixels);
PLANE_BENCH(BM_CopyRect32);
PLANE_BENCH(BM_GetPercentileLevels);
PLANE_BENCH(BM_EstimateNoise);
PLANE_BENCH(BM_EstimateNoiseClipped);

}  // namespace
}  // namespace astrelon

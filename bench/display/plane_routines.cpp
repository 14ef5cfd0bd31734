// Speed of the plane routines on a 4096 x 4096 plane on one thread (scalar and
// SSE2 path), each against a plain loop vectorised for the machine that reads
// the same plane once on one thread, as fast as the memory delivers (measured
// in the same iterations; figure "plain"). The goals (vector path / scalar
// path) follow the work per value: one read and a compare or add 1.2 / 2.5
// (minimum and maximum, share above a level, search for blanks), a sum in
// double 1.5 / 3, a copy (a read and a write) 2 / 2, the percentile levels (a
// histogram) 3 / 4, the noise estimates 3 / 5. Checks: minimum, maximum,
// count, share above the level, the blank found and the copy against
// references computed here (the sum within 1e-12 of its size); the percentile
// levels and the noise estimates against the other path's (the vector path's
// against its scalar twin, the scalar path's against the vector path), equal.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <random>
#include <bit>
#include <string>
#include <vector>

#include "peer_measure.h"
#include "plain_loops.h"
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

// The baseline: one pass reading every value (their bits added up), as fast
// as the memory delivers.
uint32_t ReadPlaneOnce(std::span<const float> p) {
  uint32_t total = 0;
  bench::PlainVector([&] {
    const float* v = p.data();
    const size_t n = p.size();
    uint32_t s = 0;
    for (size_t i = 0; i < n; ++i) s += std::bit_cast<uint32_t>(v[i]);
    total = s;
  });
  return total;
}

// Goals for the vector and the scalar path.
struct TGoals {
  double Vector, Scalar;
};

template <typename F>
void RunAgainstBaseline(benchmark::State& state, TGoals goals, F routine, const std::function<void()>& check) {
  TBenchPlane& b = Bench();
  const bool saved = Sse2Enabled;
  const bool vector = state.range(0) != 0;
  Sse2Enabled = vector;
  bench::WithThreads(state, 1, [&] {
    bench::Measure(
        state, routine,
        {{"plain", [&b] { benchmark::DoNotOptimize(ReadPlaneOnce(b.Plane())); }, vector ? goals.Vector : goals.Scalar}},
        {}, check);
  });
  Sse2Enabled = saved;
}

// The valid values of the plane.
std::vector<float> ValidValues() {
  std::vector<float> v;
  for (const float x : Bench().Plane())
    if (IsValidPixel(x)) v.push_back(x);
  return v;
}

void BM_RectMinMax(benchmark::State& state) {
  float mn = 0, mx = 0;
  RunAgainstBaseline(
      state, {1.2, 2.5}, [&] { RectMinMax(Bench().Plane(), Side, Side, Side, mn, mx, Sse2Enabled); },
      [&] {
        const std::vector<float> v = ValidValues();
        const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
        bench::Expect(mn == *lo && mx == *hi, "range " + std::to_string(mn) + " .. " + std::to_string(mx) +
                                                  ", wanted " + std::to_string(*lo) + " .. " + std::to_string(*hi));
      });
}

void BM_RectSum(benchmark::State& state) {
  double sum = 0;
  int64_t count = 0;
  RunAgainstBaseline(
      state, {1.5, 3}, [&] { RectSum(Bench().Plane(), Side, Side, Side, sum, count, Sse2Enabled); },
      [&] {
        const std::vector<float> v = ValidValues();
        double want = 0;
        for (const float x : v) want += x;
        bench::Expect(count == int64_t(v.size()),
                      "count " + std::to_string(count) + ", wanted " + std::to_string(v.size()));
        bench::ExpectValue(sum, want, 1e-9, "sum");
      });
}

void BM_PercentAbove(benchmark::State& state) {
  int32_t percent = -1;
  RunAgainstBaseline(
      state, {1.2, 2.5}, [&] { percent = PercentAbove(Bench().Plane(), 1020.0f); },
      [&] {
        const std::vector<float> v = ValidValues();
        const int64_t above = std::count_if(v.begin(), v.end(), [](float x) { return x > 1020.0f; });
        bench::Expect(
            percent == int32_t(above * 100 / int64_t(v.size())),
            "percent above " + std::to_string(percent) + ", wanted " + std::to_string(above * 100 / int64_t(v.size())));
      });
}

void BM_HasBlankPixels(benchmark::State& state) {
  bool blank = false;
  RunAgainstBaseline(
      state, {1.2, 2.5}, [&] { blank = HasBlankPixels(Slot); },
      [&] { bench::Expect(blank, "the blank rows were not found"); });
}

void BM_CopyRect32(benchmark::State& state) {
  RunAgainstBaseline(
      state, {2, 2},
      [] {
        CopyRect32(Bench().Plane(), Bench().copy, Side, Side, Side, Side);
        benchmark::ClobberMemory();
      },
      [] { bench::ExpectNear(Bench().copy, Bench().Plane(), 0, "copy"); });
}

// A figure against the same routine on the other path (the vector path's
// scalar twin, or the scalar path's vector path): equal.
void ExpectLikeOtherPath(double got, const std::function<double()>& run, const std::string& what) {
  const bool vector = Sse2Enabled;
  Sse2Enabled = !vector;
  const double other = run();
  Sse2Enabled = vector;
  bench::Expect(got == other, what + " differs from the " + (vector ? "scalar twin's" : "vector path's") + " by " +
                                  std::to_string(std::fabs(got - other)));
}

void BM_GetPercentileLevels(benchmark::State& state) {
  TPercentileLevels levels;
  RunAgainstBaseline(
      state, {3, 4}, [&] { GetPercentileLevels(Slot, 1, 0, Side - 1, 0, Side - 1, 0.2, 99.95, levels); },
      [&] {
        const auto level = [](bool a) {
          return [a] {
            TPercentileLevels other;
            GetPercentileLevels(Slot, 1, 0, Side - 1, 0, Side - 1, 0.2, 99.95, other);
            return a ? other.LevelA : other.LevelB;
          };
        };
        ExpectLikeOtherPath(levels.LevelA, level(true), "0.2 % level");
        ExpectLikeOtherPath(levels.LevelB, level(false), "99.95 % level");
      });
}

void BM_EstimateNoise(benchmark::State& state) {
  float noise = 0;
  RunAgainstBaseline(
      state, {3, 5}, [&] { noise = EstimateNoise(Slot, 1); },
      [&] { ExpectLikeOtherPath(noise, [] { return double(EstimateNoise(Slot, 1)); }, "noise"); });
}

void BM_EstimateNoiseClipped(benchmark::State& state) {
  float noise = 0;
  RunAgainstBaseline(
      state, {3, 5}, [&] { noise = EstimateNoiseClipped(Bench().Plane(), Sse2Enabled); },
      [&] {
        ExpectLikeOtherPath(noise, [] { return double(EstimateNoiseClipped(Bench().Plane(), Sse2Enabled)); },
                            "clipped noise");
      });
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

// Speed of the image window's statistics and pixel-menu workers on a 4096 x 4096
// RGB image with blank pixels, on one thread (argument 0) and on all cores up to
// eight (argument 1). Each benchmark times its routine and a baseline in the same
// iterations, the baseline on as many threads of the baseline pool (figure
// "plain"; no library does the same); the baselines are plain loops
// vectorised for the machine (plain_loops.h; the pow loop with the vector
// pow of the C library, plain_math.h). Before timing, the routine's result on one thread and
// on all cores is compared; a difference ends the benchmark with an error.
// After timing, the result is checked against a reference computed here.
//  - ComputeRectStatistics: baseline a plain read of the three planes (a sum of
//    every value in double); goal 1.5 (it also finds minimum, maximum and spread).
//    Check: count, minimum, maximum and their first places exact, mean and
//    variance within 1e-9 of their size.
//  - Black point (AddValuesToRect of minus a colour): baseline a plain loop adding
//    to every valid value; goal 1.2. Check: each valid value moved by its
//    plane's amount, exactly; blanks stay.
//  - Grey with gamma (ApplyGreyGamma): baseline a plain pow loop over the
//    same pixels (valid and above black); goal 1.0. Check: ((p - B) / S)^e S + B
//    in double with std::pow, within 0.02.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "band_pool.h"
#include "core/settings.h"
#include "kernels/regions/value_arithmetic.h"
#include "peer_measure.h"
#include "plain_loops.h"
#include "plain_math.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "shell/pixel_menu/grey_gamma.h"
#include "shell/statistics/region_statistics.h"
#include "star_field.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Side = 4096;
constexpr int Slot = 1;

// The benchmarks' star field with blank margins of an aligned frame (20 pixels)
// and one blank pixel in 300.
struct TBenchImage {
  TBenchImage() {
    std::mt19937 rng(17);
    for (auto& p : planes) {
      p.resize(size_t(Side) * Side);
      bench::FillStarField(p, Side, rng, 3000);
      for (int y = 0; y < Side; ++y)
        for (int x = 0; x < Side; ++x)
          if (x < 20 || y < 20 || x >= Side - 20 || y >= Side - 20 || rng() % 300 == 0)
            p[size_t(y) * Side + size_t(x)] = BlankPixel;
    }
    DetectCpuFeatures();
    ApplySimdSetting();
  }
  void Reset() {
    TImageSlot& im = Store.Image[Slot];
    im.Width = Side;
    im.Height = Side;
    im.PlaneCount = 3;
    im.IsColor = 1;
    for (int p = 1; p <= 3; ++p) im.Planes[size_t(p)] = planes[size_t(p - 1)];
    Store.InUse[Slot] = 1;
    SetWorkRectToImage(Slot);
  }
  std::array<TPlane, 3> planes;
};

TBenchImage& Bench() {
  static TBenchImage image;
  return image;
}

// Rows of the three planes on the threads a whole-image loop of the routines
// gets; fn(k, row) for row k (plane k / Side + 1), Side values from `row`.
template <typename F>
void PlainRows(F&& fn) {
  TImageSlot& im = Store.Image[Slot];
  const int64_t rows = int64_t(Side) * 3;
  const int threads = BandThreads(rows, 16, Options.Multicore != 0);
  const std::array<float*, 3> planes{im.Planes[1].data(), im.Planes[2].data(), im.Planes[3].data()};
  bench::PlainBands(rows, threads, [&fn, planes](int64_t first, int64_t last) {
    for (int64_t k = first; k < last; ++k) fn(k, planes[size_t(k / Side)] + size_t(k % Side) * Side);
  });
}

double PlainSum() {
  static std::vector<double> rowSums(size_t(3 * Side));
  double* const sums = rowSums.data();
  PlainRows([sums](int64_t k, const float* row) {
    double s = 0;
#pragma omp simd reduction(+ : s)
    for (int x = 0; x < Side; ++x) s += row[x];
    sums[k] = s;
  });
  double total = 0;
  for (double s : rowSums) total += s;
  return total;
}

void PlainAdd() {
  PlainRows([](int64_t, float* row) {
    for (int x = 0; x < Side; ++x)
      if (row[x] > BlankLimit) row[x] += -1000.0f;
  });
}

const TGreyGamma& Gamma() {
  static const TGreyGamma g = [] {
    TDisplayRecord d;
    d.Black = 950;
    d.White = 5000;
    return GreyGammaFor(d, 1900, 1500, 2400);
  }();
  return g;
}

// Every value above black (blanks lie below it) through the power.
void PlainPow() {
  const TGreyGamma& g = Gamma();
  const float b = float(g.Black), s = float(g.Scale);
  const float e = float(g.Exponent[1]);
  TImageSlot& im = Store.Image[Slot];
  const int64_t rows = int64_t(Side) * 3;
  bench::PoolBands(rows, BandThreads(rows, 16, Options.Multicore != 0), [&](int64_t first, int64_t last) {
    for (int64_t k = first; k < last; ++k)
      bench::PlainPowAbove(im.Planes[size_t(1 + k / Side)].data() + size_t(k % Side) * Side, Side, b, s, e);
  });
}

// The checks' references: the image as Reset makes it, plane p (1..3).
std::span<const float> Original(int p) { return Bench().planes[size_t(p - 1)]; }

void CheckStatistics(const TRectStatistics& got) {
  for (int p = 1; p <= 3; ++p) {
    const std::span<const float> v = Original(p);
    TPlaneStatistics want;
    double sum = 0, squares = 0;
    for (size_t i = 0; i < v.size(); ++i) {
      if (!IsValidPixel(v[i])) continue;
      ++want.Count;
      sum += v[i];
      squares += double(v[i]) * v[i];
      const TPointI at{int32_t(i % Side), int32_t(i / Side)};
      if (v[i] < want.Min) want.Min = v[i], want.MinPos = at;
      if (v[i] > want.Max) want.Max = v[i], want.MaxPos = at;
    }
    want.Mean = sum / double(want.Count);
    want.Variance = std::max(0.0, squares / double(want.Count) - want.Mean * want.Mean);
    const TPlaneStatistics& s = got.Plane[size_t(p - 1)];
    const bool same = s.Count == want.Count && s.Min == want.Min && s.Max == want.Max && s.MinPos.X == want.MinPos.X &&
                      s.MinPos.Y == want.MinPos.Y && s.MaxPos.X == want.MaxPos.X && s.MaxPos.Y == want.MaxPos.Y &&
                      std::fabs(s.Mean - want.Mean) <= 1e-9 * std::fabs(want.Mean) &&
                      std::fabs(s.Variance - want.Variance) <= 1e-9 * (want.Variance + want.Mean * want.Mean);
    bench::Expect(same, "plane " + std::to_string(p) + ": " + std::to_string(s.Count) + " values, mean " +
                            std::to_string(s.Mean) + ", variance " + std::to_string(s.Variance) + ", range " +
                            std::to_string(s.Min) + " .. " + std::to_string(s.Max) + "; wanted " +
                            std::to_string(want.Count) + ", " + std::to_string(want.Mean) + ", " +
                            std::to_string(want.Variance) + ", " + std::to_string(want.Min) + " .. " +
                            std::to_string(want.Max));
  }
}

// Each plane's valid values through `f` (blanks stay) against the slot's planes.
template <class F>
void CheckPlanes(double tolerance, const char* what, F f) {
  for (int p = 1; p <= 3; ++p) {
    const std::span<const float> v = Original(p);
    TPlane want(v.size());
    for (size_t i = 0; i < v.size(); ++i) want[i] = IsValidPixel(v[i]) ? f(p, v[i]) : v[i];
    bench::ExpectNear(Store.Image[Slot].Planes[size_t(p)], want, tolerance,
                      std::string(what) + ", plane " + std::to_string(p));
  }
}

// The routine's planes after one run on one thread and on all cores must agree.
bool SameOnAllThreadCounts(const std::function<void()>& routine) {
  std::array<std::vector<float>, 2> result;
  for (int multi = 0; multi <= 1; ++multi) {
    Options.Multicore = uint8_t(multi);
    Bench().Reset();
    routine();
    for (int p = 1; p <= 3; ++p)
      result[size_t(multi)].insert(result[size_t(multi)].end(), Store.Image[Slot].Planes[size_t(p)].begin(),
                                   Store.Image[Slot].Planes[size_t(p)].end());
  }
  return std::memcmp(result[0].data(), result[1].data(), result[0].size() * sizeof(float)) == 0;
}

void Run(benchmark::State& state, const std::function<void()>& baseline, const std::function<void()>& routine,
         bool changesPlanes, double goal, const std::function<void()>& check) {
  if (changesPlanes && !SameOnAllThreadCounts(routine)) {
    state.SkipWithError("results differ between one thread and all cores");
    return;
  }
  Options.Multicore = uint8_t(state.range(0));
  Bench().Reset();
  // Routines that change the planes start each run from the same image.
  bench::WithThreads(state, BandThreads(int64_t(Side) * 3, 16, state.range(0) != 0), [&] {
    bench::Measure(
        state, routine, {{"plain", baseline, goal}},
        [&] {
          if (changesPlanes) Bench().Reset();
        },
        check);
  });
}

void BM_ComputeRectStatistics(benchmark::State& state) {
  // The figures on one thread and on all cores must agree too.
  TRectStatistics one, all;
  Bench().Reset();
  Options.Multicore = 0;
  ComputeRectStatistics(Slot, {0, 0, Side - 1, Side - 1}, one);
  Options.Multicore = 1;
  ComputeRectStatistics(Slot, {0, 0, Side - 1, Side - 1}, all);
  if (std::memcmp(one.Plane.data(), all.Plane.data(), sizeof(one.Plane)) != 0) {
    state.SkipWithError("statistics differ between one thread and all cores");
    return;
  }
  TRectStatistics last;
  Run(
      state, [] { benchmark::DoNotOptimize(PlainSum()); },
      [&] {
        ComputeRectStatistics(Slot, {0, 0, Side - 1, Side - 1}, last);
      },
      false, 1.5, [&] { CheckStatistics(last); });
}

// The black point's shift of each plane.
constexpr std::array<float, 3> Shift{-1000.0f, -990.0f, -1010.0f};

void BM_BlackPoint(benchmark::State& state) {
  Run(
      state, PlainAdd, [] { AddValuesToRect(Slot, Shift[0], Shift[1], Shift[2]); }, true, 1.2,
      [] { CheckPlanes(0, "black point", [](int p, float v) { return v + Shift[size_t(p - 1)]; }); });
}

void BM_GreyGamma(benchmark::State& state) {
  Run(
      state, PlainPow, [] { ApplyGreyGamma(Slot, Gamma()); }, true, 1.0,
      [] {
        const TGreyGamma& g = Gamma();
        CheckPlanes(0.02, "grey gamma", [&](int p, float v) {
          if (!(v > g.Black)) return v;
          return float(std::pow((double(v) - g.Black) * (1 / g.Scale), g.Exponent[size_t(p - 1)]) * g.Scale + g.Black);
        });
      });
}

#define MENU_BENCH(fn)           \
  ASTRELON_FIGURES(fn, "plain"); \
  BENCHMARK(fn)->Arg(0)->Arg(1)->ArgName("multicore")->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0)
MENU_BENCH(BM_ComputeRectStatistics);
MENU_BENCH(BM_BlackPoint);
MENU_BENCH(BM_GreyGamma);

}  // namespace
}  // namespace astrelon

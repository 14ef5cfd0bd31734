// Speed of the image window's statistics and pixel-menu workers on a 4096 x 4096
// RGB image with blank pixels, on one thread (argument 0) and on all cores up to
// eight (argument 1). Each benchmark times its routine and a baseline in the same
// iterations, the baseline on as many threads of the baseline pool (figure
// "plain"; no library does the same). Before timing, the routine's result on
// one thread and on all cores is compared; a difference ends the benchmark
// with an error.
//  - ComputeRectStatistics: baseline a plain read of the three planes (a sum of
//    every value in double); goal 1.5 (it also finds minimum, maximum and spread).
//  - Black point (AddValuesToRect of minus a colour): baseline a plain loop adding
//    to every valid value; goal 1.2.
//  - Grey with gamma (ApplyGreyGamma): baseline a plain std::pow loop over the
//    same pixels (valid and above black); goal 1.0.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "band_pool.h"
#include "core/settings.h"
#include "kernels/regions/value_arithmetic.h"
#include "peer_measure.h"
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
// gets; fn(k, row) for row k (plane k / Side + 1).
template <typename F>
void PlainRows(F&& fn) {
  TImageSlot& im = Store.Image[Slot];
  const int64_t rows = int64_t(Side) * 3;
  const int threads = BandThreads(rows, 16, Options.Multicore != 0);
  bench::PoolBands(rows, threads, [&](int64_t first, int64_t last) {
    for (int64_t k = first; k < last; ++k) fn(k, im.Row(int(1 + k / Side), int(k % Side)));
  });
}

double PlainSum() {
  static std::vector<double> rowSums(size_t(3 * Side));
  PlainRows([](int64_t k, std::span<float> row) {
    double s = 0;
    for (float v : row) s += v;
    rowSums[size_t(k)] = s;
  });
  double total = 0;
  for (double s : rowSums) total += s;
  return total;
}

void PlainAdd() {
  PlainRows([](int64_t, std::span<float> row) {
    for (float& v : row)
      if (v > BlankLimit) v += -1000.0f;
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

void PlainPow() {
  const TGreyGamma& g = Gamma();
  const float b = float(g.Black), s = float(g.Scale);
  const float e = float(g.Exponent[1]);
  PlainRows([&](int64_t, std::span<float> row) {
    for (float& v : row)
      if (v > BlankLimit && v > b) v = std::pow((v - b) / s, e) * s + b;
  });
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
         bool changesPlanes, double goal) {
  if (changesPlanes && !SameOnAllThreadCounts(routine)) {
    state.SkipWithError("results differ between one thread and all cores");
    return;
  }
  Options.Multicore = uint8_t(state.range(0));
  Bench().Reset();
  // Routines that change the planes start each run from the same image.
  bench::WithThreads(state, BandThreads(int64_t(Side) * 3, 16, state.range(0) != 0), [&] {
    bench::Measure(state, routine, {{"plain", baseline, goal}}, [&] {
      if (changesPlanes) Bench().Reset();
    });
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
  Run(
      state, [] { benchmark::DoNotOptimize(PlainSum()); },
      [] {
        TRectStatistics s;
        ComputeRectStatistics(Slot, {0, 0, Side - 1, Side - 1}, s);
        benchmark::DoNotOptimize(s);
      },
      false, 1.5);
}

void BM_BlackPoint(benchmark::State& state) {
  Run(
      state, PlainAdd, [] { AddValuesToRect(Slot, -1000.0f, -990.0f, -1010.0f); }, true, 1.2);
}

void BM_GreyGamma(benchmark::State& state) {
  Run(
      state, PlainPow, [] { ApplyGreyGamma(Slot, Gamma()); }, true, 1.0);
}

#define MENU_BENCH(fn)           \
  ASTRELON_FIGURES(fn, "plain"); \
  BENCHMARK(fn)->Arg(0)->Arg(1)->ArgName("multicore")->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0)
MENU_BENCH(BM_ComputeRectStatistics);
MENU_BENCH(BM_BlackPoint);
MENU_BENCH(BM_GreyGamma);

}  // namespace
}  // namespace astrelon

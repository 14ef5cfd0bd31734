// Speed of the sun-surface flattening, the bright-disc search and the filling of
// a blank hole on 6000 x 4000 images. Each benchmark times its routine and a
// plain loop of the baseline pool in the same iterations (figure "plain"; no
// library does the same):
//  - FlattenSunSurface on RGB (all cores, 8 at most): a loop that reads and
//    writes every value of the three planes once, on as many threads; goal 3
//    (the limb profile is measured, then every value divided).
//  - FindBrightDisc (one thread): the same loop over one plane on one thread;
//    goal 2 (a level, then the disc's edge).
//  - InterpolateBlankPixels, a 1000 x 1000 hole (one thread by nature): the same
//    loop over the whole plane; goal 1 (the hole is a 24th of the plane).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "core/settings.h"
#include "kernels/alignment/bright_disc.h"
#include "kernels/regions/blank_interpolation.h"
#include "kernels/regions/rect_runs.h"
#include "band_pool.h"
#include "peer_measure.h"
#include "pixelops/flattening/sun_surface.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Width = 6000, Height = 4000;
constexpr int Sun = 1, Sky = 2;
constexpr int HoleX = 2500, HoleY = 1500, HoleSide = 1000;

// A limb-darkened sun of radius 1800 at (3010.4, 1990.7) on a noisy sky in the
// three planes of one slot, and a smooth sky with a gradient and noise in another.
struct TBenchImages {
  TBenchImages() {
    std::mt19937 rng(3);
    std::normal_distribution<float> noise(0.0f, 20.0f);
    for (int p = 0; p < 3; ++p) {
      sun[size_t(p)].resize(size_t(Width) * Height);
      for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
          const double r = std::hypot(x - 3010.4, y - 1990.7) / 1800.0;
          const double v = r < 1 ? (20000.0 - 4000.0 * p) * (0.4 + 0.6 * std::sqrt(1 - r * r)) : 300.0;
          sun[size_t(p)][size_t(y) * Width + size_t(x)] = float(v) + noise(rng);
        }
    }
    sky.resize(size_t(Width) * Height);
    for (int y = 0; y < Height; ++y)
      for (int x = 0; x < Width; ++x) sky[size_t(y) * Width + size_t(x)] = 1000.0f + 0.05f * x + 0.03f * y + noise(rng);
    Options.Multicore = 1;
    DetectCpuFeatures();
    ApplySimdSetting();
  }
  void Reset() {
    TImageSlot& s = Store.Image[Sun];
    s.Width = Width;
    s.Height = Height;
    s.PlaneCount = 3;
    s.IsColor = 1;
    for (int p = 1; p <= 3; ++p) s.Planes[size_t(p)] = sun[size_t(p - 1)];
    Store.InUse[Sun] = 1;
    UpdateMinMax(Sun);
    TImageSlot& k = Store.Image[Sky];
    k.Width = Width;
    k.Height = Height;
    k.PlaneCount = 1;
    k.Planes[1] = sky;
    Store.InUse[Sky] = 1;
    UpdateMinMax(Sky);
  }
  void PunchHole() {
    TImageSlot& k = Store.Image[Sky];
    for (int y = HoleY; y < HoleY + HoleSide; ++y)
      std::fill_n(k.Planes[1].begin() + (int64_t(y) * Width + HoleX), HoleSide, BlankPixel);
  }
  std::array<TPlane, 3> sun;
  TPlane sky;
};

TBenchImages& Bench() {
  static TBenchImages images;
  return images;
}

// Reads and writes every value of the first `planes` planes of the slot once.
void PlainPass(int slot, int planes, int threads) {
  TImageSlot& im = Store.Image[size_t(slot)];
  const int64_t rows = int64_t(Height) * planes;
  bench::PoolBands(rows, threads, [&](int64_t first, int64_t last) {
    for (int64_t k = first; k < last; ++k)
      for (float& v : im.Row(int(1 + k / Height), int(k % Height))) v = v * 1.0f + 0.0f;
  });
  benchmark::ClobberMemory();
}

void BM_FlattenSunSurface(benchmark::State& state) {
  Bench().Reset();
  SetWorkRectToImage(Sun);
  const TBrightDisc disc = FindBrightDisc(Sun);
  const int threads = RectRunThreads({0, Width - 1, 0, Height - 1}, 3);
  bench::WithThreads(state, threads, [&] {
    bench::Measure(state, [&] { FlattenSunSurface(Sun, disc); }, {{"plain", [&] { PlainPass(Sun, 3, threads); }, 3.0}});
  });
}

void BM_FindBrightDisc(benchmark::State& state) {
  Bench().Reset();
  bench::WithThreads(state, 1, [&] {
    bench::Measure(
        state, [] { benchmark::DoNotOptimize(FindBrightDisc(Sun)); }, {{"plain", [] { PlainPass(Sun, 1, 1); }, 2.0}},
        [] { SetWorkRectToImage(Sun); });
  });
}

void BM_FillHole(benchmark::State& state) {
  Bench().Reset();
  bench::WithThreads(state, 1, [&] {
    bench::Measure(
        state, [] { InterpolateBlankPixels(Sky, Sky, true, false); }, {{"plain", [] { PlainPass(Sky, 1, 1); }, 1.0}},
        [] { Bench().PunchHole(); });
  });
}

ASTRELON_FIGURES(BM_FlattenSunSurface, "plain");
ASTRELON_FIGURES(BM_FindBrightDisc, "plain");
ASTRELON_FIGURES(BM_FillHole, "plain");
BENCHMARK(BM_FlattenSunSurface)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_FindBrightDisc)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_FillHole)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace
}  // namespace astrelon

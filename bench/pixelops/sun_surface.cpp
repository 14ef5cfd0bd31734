// Speed of the sun-surface flattening, the bright-disc search and the filling of
// a blank hole on 6000 x 4000 images. Each benchmark times its routine and a
// plain loop of the baseline pool in the same iterations (vectorised for the
// machine; no library does the same):
//  - FlattenSunSurface on RGB (all cores, 8 at most), each run on the image as
//    made: a loop that reads and writes every value of the three planes once,
//    on as many threads (figure "plain"); goal 3 (the limb profile is
//    measured, then every value divided). Check: success, and the flattened
//    image equals, value by value, the scalar twin's (the vector loops off)
//    on the same image after the timed runs.
//  - FindBrightDisc (one thread): the same loop over one plane on one thread
//    (figure "plain"); goal 2 (a level, then the disc's edge). Check: the disc
//    found is the one drawn (centre within 0.5, edges within 2 pixels).
//  - InterpolateBlankPixels, a 1000 x 1000 hole (one thread by nature). Its rule
//    walks the hole ring by ring and takes each new pixel from samples of the
//    ring before, serially; its work is the values those samples read (a ring
//    point's two coordinates and its value, 12 bytes). Figure "memory": the
//    time over the time those reads take at this machine's memory bandwidth on
//    one thread (a plain read of the plane, scaled by the values read over the
//    values it holds), i.e. how close the fill comes to its own limit; goal 4.
//    Check: no blank is left, and the fill continues the sky's slope (its mean
//    distance to the sky drawn under it at most 8, under half the noise of 20;
//    a checked run fills it 4.4 from the sky), and the filled plane equals,
//    value by value, the scalar twin's on the same hole.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/settings.h"
#include "kernels/alignment/bright_disc.h"
#include "kernels/regions/blank_interpolation.h"
#include "kernels/regions/rect_runs.h"
#include "band_pool.h"
#include "peer_measure.h"
#include "plain_loops.h"
#include "pixelops/flattening/sun_surface.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Width = 6000, Height = 4000;
constexpr int Sun = 1, Sky = 2;
constexpr int HoleX = 2500, HoleY = 1500, HoleSide = 1000;
// The sun drawn: centre and radius.
constexpr double SunX = 3010.4, SunY = 1990.7, SunRadius = 1800;

// The sky under the noise.
double SkyModel(int x, int y) { return 1000.0 + 0.05 * x + 0.03 * y; }

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
          const double r = std::hypot(x - SunX, y - SunY) / SunRadius;
          const double v = r < 1 ? (20000.0 - 4000.0 * p) * (0.4 + 0.6 * std::sqrt(1 - r * r)) : 300.0;
          sun[size_t(p)][size_t(y) * Width + size_t(x)] = float(v) + noise(rng);
        }
    }
    sky.resize(size_t(Width) * Height);
    for (int y = 0; y < Height; ++y)
      for (int x = 0; x < Width; ++x) sky[size_t(y) * Width + size_t(x)] = float(SkyModel(x, y)) + noise(rng);
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

void BM_FlattenSunSurface(benchmark::State& state) {
  Bench().Reset();
  SetWorkRectToImage(Sun);
  const TBrightDisc disc = FindBrightDisc(Sun);
  const int threads = RectRunThreads({0, Width - 1, 0, Height - 1}, 3);
  const std::function<void()> flatten = [&] { bench::Expect(FlattenSunSurface(Sun, disc), "not flattened"); };
  const std::function<void()> prepare = [] {
    Bench().Reset();
    SetWorkRectToImage(Sun);
  };
  bench::WithThreads(state, threads, [&] {
    bench::Measure(state, flatten, {{"plain", [&] { bench::PlainSlotPass(Sun, threads, 3); }, 3.0}}, prepare, [&] {
      bench::ExpectTwin([] { return bench::SlotPlanes(Sun); }, prepare, flatten, 0, "flattened sun");
    });
  });
}

void BM_FindBrightDisc(benchmark::State& state) {
  Bench().Reset();
  TBrightDisc disc;
  bench::WithThreads(state, 1, [&] {
    bench::Measure(
        state, [&] { disc = FindBrightDisc(Sun); }, {{"plain", [] { bench::PlainSlotPass(Sun, 1, 1); }, 2.0}},
        [] { SetWorkRectToImage(Sun); },
        [&] {
          // Edges: the first columns and rows outside the disc drawn.
          const bool found = disc.Quality > 0 && std::hypot(disc.CentreX - SunX, disc.CentreY - SunY) <= 0.5 &&
                             std::fabs(disc.LeftEdge - (SunX - SunRadius)) <= 2 &&
                             std::fabs(disc.RightEdge - (SunX + SunRadius)) <= 2 &&
                             std::fabs(disc.TopEdge - (SunY - SunRadius)) <= 2 &&
                             std::fabs(disc.BottomEdge - (SunY + SunRadius)) <= 2;
          bench::Expect(found, "disc centred at (" + std::to_string(disc.CentreX) + ", " +
                                   std::to_string(disc.CentreY) + "), edges " + std::to_string(disc.LeftEdge) + ", " +
                                   std::to_string(disc.RightEdge) + ", " + std::to_string(disc.TopEdge) + ", " +
                                   std::to_string(disc.BottomEdge) + ", quality " + std::to_string(disc.Quality));
        });
  });
}

void BM_FillHole(benchmark::State& state) {
  Bench().Reset();
  const double held = double(Width) * Height;
  // A sample reads a ring point's two coordinates and its value.
  constexpr double ValuesPerSample = 3;
  int64_t samples = 0;
  bench::WithThreads(state, 1, [&] {
    bench::Measure(
        state,
        [&] {
          InterpolateBlankPixels(Sky, Sky, true, false);
          samples = LastInterpolationSamples();
        },
        {{"memory", [] { benchmark::DoNotOptimize(bench::PlainReadSum(Store.Image[Sky].Planes[1])); }, 4.0,
          [&] { return ValuesPerSample * double(samples) / held; }}},
        [] { Bench().PunchHole(); },
        [&] {
          const TPlane& p = Store.Image[Sky].Planes[1];
          double distance = 0;
          int64_t blanks = 0;
          for (int y = HoleY; y < HoleY + HoleSide; ++y)
            for (int x = HoleX; x < HoleX + HoleSide; ++x) {
              const float v = p[size_t(y) * Width + size_t(x)];
              if (!IsValidPixel(v)) ++blanks;
              distance += std::fabs(v - SkyModel(x, y));
            }
          distance /= double(HoleSide) * HoleSide;
          bench::Expect(blanks == 0 && distance <= 8, std::to_string(blanks) + " blanks left; the fill lies " +
                                                          std::to_string(distance) + " from the sky on average");
          bench::Expect(samples > 0, "no ring samples counted");
          state.counters["samples_per_pixel"] = double(samples) / (double(HoleSide) * HoleSide);
          bench::ExpectTwin([] { return bench::SlotPlanes(Sky); }, [] { Bench().PunchHole(); },
                            [] { InterpolateBlankPixels(Sky, Sky, true, false); }, 0, "filled hole");
        });
  });
}

ASTRELON_FIGURES(BM_FlattenSunSurface, "plain");
ASTRELON_FIGURES(BM_FindBrightDisc, "plain");
ASTRELON_FIGURES(BM_FillHole, "memory");
BENCHMARK(BM_FlattenSunSurface)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_FindBrightDisc)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_FillHole)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace
}  // namespace astrelon

// Speed of a star pick with photometry (a noisy star on a 1024 x 1024 plane, one
// thread) against a plain sum over the whole plane on one thread (vectorised),
// both timed in the same iterations (figure "plain", goal 3: the pick measures
// the background around the star from much of the plane; no library picks
// stars this way). Check: the picked star against the one drawn (centre within
// 0.1 pixel, background within 2, flux within 2 %).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <string>

#include "peer_measure.h"
#include "plain_loops.h"
#include "shell/slots/slot_utilities.h"
#include "shell/stars/star_pick.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Side = 1024;
// The star drawn: centre, width (e^-(r/w)²) and peak; its flux is peak · π w².
constexpr double StarX = 500.3, StarY = 500.6, StarWidth = 2.5, StarPeak = 10000, Sky = 1000;

void MakeNoisyStar() {
  Store.Reset();
  Store.InUse[1] = 1;
  TImageSlot& im = Store.Image[1];
  im.Width = im.Height = Side;
  im.PlaneCount = 1;
  im.AllocatePlanes(1);
  std::fill(im.Planes[1].begin(), im.Planes[1].end(), 0.0f);
  FillGaussianPsf(1, StarX, StarY, StarWidth);
  std::mt19937 rng(7);
  std::normal_distribution<float> noise(0.0f, 20.0f);
  for (float& v : im.Planes[1]) v += float(Sky) + noise(rng);
  UpdateMinMax(1);
}

void BM_PickStarVsPlainSum(benchmark::State& state) {
  MakeNoisyStar();
  const std::span<const float> plane = Store.Image[1].Planes[1];
  bench::WithThreads(state, 1, [&] {
    bench::Measure(
        state,
        [] {
          // (No DoNotOptimize on the result: with GCC its "+m,r" form can
          // overwrite a float with garbage.)
          PickStar(1, 501, 499, -1, LockedStar, TStarMode::Photometry, true, true);
          benchmark::ClobberMemory();
        },
        {{"plain", [&] { benchmark::DoNotOptimize(bench::PlainReadSum(plane)); }, 3.0}}, {},
        [] {
          // The fit counts pixel centres at whole numbers, the drawing pixel corners.
          const TStarCutout& s = LockedStar;
          const double x = s.OriginX + s.CentreX + 0.5, y = s.OriginY + s.CentreY + 0.5;
          const double flux = StarPeak * M_PI * StarWidth * StarWidth;
          bench::Expect(std::hypot(x - StarX, y - StarY) <= 0.1 && std::fabs(s.Background - Sky) <= 2 &&
                            std::fabs(s.Flux - flux) <= 0.02 * flux,
                        "star at (" + std::to_string(x) + ", " + std::to_string(y) + "), background " +
                            std::to_string(s.Background) + ", flux " + std::to_string(s.Flux) + "; drawn at (" +
                            std::to_string(StarX) + ", " + std::to_string(StarY) + "), " + std::to_string(Sky) + ", " +
                            std::to_string(flux));
        });
  });
}
ASTRELON_FIGURES(BM_PickStarVsPlainSum, "plain");
BENCHMARK(BM_PickStarVsPlainSum)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(200);

}  // namespace
}  // namespace astrelon

// Speed of a star pick with photometry (a noisy star on a 1024 x 1024 plane, one
// thread) against a plain sum over the whole plane on one thread, both timed in
// the same iterations (figure "plain", goal 3: the pick measures the
// background around the star from much of the plane; no library picks stars
// this way).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <random>

#include "peer_measure.h"
#include "shell/slots/slot_utilities.h"
#include "shell/stars/star_pick.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Side = 1024;

void MakeNoisyStar() {
  Store.Reset();
  Store.InUse[1] = 1;
  TImageSlot& im = Store.Image[1];
  im.Width = im.Height = Side;
  im.PlaneCount = 1;
  im.AllocatePlanes(1);
  std::fill(im.Planes[1].begin(), im.Planes[1].end(), 0.0f);
  FillGaussianPsf(1, 500.3, 500.6, 2.5);
  std::mt19937 rng(7);
  std::normal_distribution<float> noise(0.0f, 20.0f);
  for (float& v : im.Planes[1]) v += 1000.0f + noise(rng);
  UpdateMinMax(1);
}

void BM_PickStarVsPlainSum(benchmark::State& state) {
  MakeNoisyStar();
  const std::span<const float> plane = Store.Image[1].Planes[1];
  bench::WithThreads(state, 1, [&] {
    bench::Measure(
        state,
        [] {
          PickStar(1, 501, 499, -1, LockedStar, TStarMode::Photometry, true, true);
          benchmark::DoNotOptimize(LockedStar.Flux);
        },
        {{"plain",
          [&] {
            float sum = 0;
            for (float v : plane) sum += v;
            benchmark::DoNotOptimize(sum);
          },
          3.0}});
  });
}
ASTRELON_FIGURES(BM_PickStarVsPlainSum, "plain");
BENCHMARK(BM_PickStarVsPlainSum)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(200);

}  // namespace
}  // namespace astrelon

// Speed of the calibration of single images on a 6000 x 4000 RGB image with an
// RGB dark and an RGB flat, on all cores (8 at most). Each benchmark times its
// routine and a plain loop over the same memory on as many threads in the same
// iterations (figure "plain"; no library does the same work); the frames are
// restored before each run (not timed). Goals: the plain subtraction and
// division 1.5, with hot-pixel repair 3, with temperature compensation 4, with
// both 5, the automatic division (response and gradient fitted) 3. The plain
// loops are vectorised for the machine. Checks: the routine reports success;
// the plain subtraction equals image − dark exactly; the other results equal,
// value by value, those of the routine's scalar twin run on the same frames
// after the timed runs (bit-identical: difference 0).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <thread>

#include "band_pool.h"
#include "peer_measure.h"
#include "plain_loops.h"

#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "registration/calibration/dark_subtraction.h"
#include "registration/calibration/flat_division.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Width = 6000, Height = 4000;
constexpr int Image = 1, Dark = 2, Flat = 3, Result = 4;

void Allocate(int slot) {
  TImageSlot& im = Store.Image[slot];
  im.Width = Width;
  im.Height = Height;
  im.PlaneCount = 3;
  im.IsColor = 1;
  im.AllocatePlanes(3);
  Store.InUse[slot] = 1;
}

// A dark of 100 with noise 10 and one hot pixel in 2000; a flat of 20000 with
// vignetting down to half in the corners; light of 600 with noise and stars
// and a sky brightening by 1500 towards the right and 800 towards the bottom
// (which the automatic division's gradient fit takes out) under vignetting,
// plus 1.3 times the dark.
struct TBenchFrames {
  TBenchFrames() {
    Store.Reset();
    for (int s : {Image, Dark, Flat, Result}) Allocate(s);
    std::mt19937 rng(7);
    std::normal_distribution<float> noise(0.0f, 10.0f);
    for (int p = 1; p <= 3; ++p) {
      TPlane& d = Store.Image[Dark].Planes[size_t(p)];
      TPlane& f = Store.Image[Flat].Planes[size_t(p)];
      TPlane& x = Store.Image[Image].Planes[size_t(p)];
      for (int y = 0; y < Height; ++y)
        for (int c = 0; c < Width; ++c) {
          const size_t i = size_t(y) * Width + size_t(c);
          const double r = std::hypot(c - Width / 2.0, y - Height / 2.0) / std::hypot(Width / 2.0, Height / 2.0);
          const double v = 1.0 - 0.5 * r * r;
          d[i] = 100.0f + noise(rng) + (rng() % 2000 == 0 ? float(1000 + rng() % 4000) : 0.0f);
          f[i] = float(20000 * (0.8 * v + 0.2)) + noise(rng);
          const float star = rng() % 5000 == 0 ? float(rng() % 30000) : 0.0f;
          const double sky = 600 + 0.25 * c + 0.2 * y;
          x[i] = float((sky + star) * v) + 1.3f * d[i] + noise(rng);
        }
      pristine[size_t(p - 1)] = x;
    }
    Options.Multicore = 1;
    DetectCpuFeatures();
    ApplySimdSetting();
  }
  // The image and the division's destination as they were made.
  void Restore() {
    for (int slot : {Image, Result})
      for (int p = 1; p <= 3; ++p) Store.Image[slot].Planes[size_t(p)] = pristine[size_t(p - 1)];
  }
  std::array<TPlane, 3> pristine;
};

TBenchFrames& Frames() {
  static TBenchFrames frames;
  return frames;
}

// The baselines: plain loops over the same memory on the routines' thread count
// (the baseline pool): x -= d for the dark subtraction, x = x M / F for the division.
int Threads() { return BandThreads(int64_t(Width) * Height, 1 << 16, true); }

void PlainSubtract() {
  for (int p = 1; p <= 3; ++p) {
    float* const x = Store.Image[Image].Planes[size_t(p)].data();
    const float* const d = Store.Image[Dark].Planes[size_t(p)].data();
    bench::PlainBands(Height, Threads(), [=](int64_t y0, int64_t y1) {
      for (int64_t i = y0 * Width; i < y1 * Width; ++i) x[i] -= d[i];
    });
  }
}

void PlainDivide() {
  for (int p = 1; p <= 3; ++p) {
    float* const x = Store.Image[Result].Planes[size_t(p)].data();
    const float* const f = Store.Image[Flat].Planes[size_t(p)].data();
    bench::PlainBands(Height, Threads(), [=](int64_t y0, int64_t y1) {
      const float m = 15000.0f;
      for (int64_t i = y0 * Width; i < y1 * Width; ++i) x[i] = x[i] * m / f[i];
    });
  }
}

// Times baseline and routine on the frames restored before each of them;
// `check` judges the routine's last result.
void Run(benchmark::State& state, const std::function<void()>& baseline, const std::function<void()>& routine,
         double goal, const std::function<void()>& check) {
  Frames();
  bench::WithThreads(state, Threads(), [&] {
    bench::Measure(
        state, routine, {{"plain", baseline, goal}}, [] { Frames().Restore(); }, check);
  });
}

// The check of a slot's planes against the scalar twin of `routine` on the restored frames.
std::function<void()> LikeScalarTwin(int slot, const std::function<void()>& routine, const char* what) {
  return [=] {
    bench::ExpectTwin([slot] { return bench::SlotPlanes(slot); }, [] { Frames().Restore(); }, routine, 0, what);
  };
}

// Argument: the dark options (0 plain, 1 hot pixels, 2 temperature, 3 both).
void BM_SubtractDarkFrame(benchmark::State& state) {
  const auto options = TDarkOptions(state.range(0));
  constexpr double Goals[] = {1.5, 3, 4, 5};
  const std::function<void()> plain = [] {
    for (int p = 1; p <= 3; ++p) {
      const TPlane& x = Frames().pristine[size_t(p - 1)];
      const TPlane& d = Store.Image[Dark].Planes[size_t(p)];
      TPlane want(x.size());
      for (size_t i = 0; i < want.size(); ++i) want[i] = x[i] - d[i];
      bench::ExpectNear(Store.Image[Image].Planes[size_t(p)], want, 0, "plane " + std::to_string(p) + " less the dark");
    }
  };
  const std::function<void()> subtract = [options] {
    bench::Expect(SubtractDarkFrame(Image, Dark, options), "nothing subtracted");
  };
  const char* const what[] = {"", "hot pixels repaired", "temperature compensated", "compensated and repaired"};
  Run(state, PlainSubtract, subtract, Goals[state.range(0)],
      options == TDarkOptions(0) ? plain : LikeScalarTwin(Image, subtract, what[state.range(0)]));
}
ASTRELON_FIGURES(BM_SubtractDarkFrame, "plain");

// Argument: 0 plain, 1 automatic.
void BM_DivideByImage(benchmark::State& state) {
  const bool automatic = state.range(0) != 0;
  const std::function<void()> divide = [automatic] {
    bench::Expect(DivideByImage(Image, Result, Flat, true, automatic), "nothing divided");
  };
  Run(state, PlainDivide, divide, automatic ? 3 : 1.3,
      LikeScalarTwin(Result, divide, automatic ? "divided automatically" : "divided"));
}
ASTRELON_FIGURES(BM_DivideByImage, "plain");

BENCHMARK(BM_SubtractDarkFrame)->DenseRange(0, 3)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_DivideByImage)->DenseRange(0, 1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace astrelon

// Turning a 6000 x 4000 RGB image over in place (mirror, flip, rotation by 90
// degrees) on one and on all worker threads, each against two baselines
// measured in the same iterations:
//  - OpenCV's cv::flip / cv::rotate of the three planes into new matrices
//    (figure "opencv"; these have no threads of their own): goal 1.0 on one
//    thread, 0.5 on eight;
//  - a plain copy of the three planes into fresh memory on as many threads of
//    the baseline pool (figure "plain"): goal 1.5 for mirror and flip, 2 for
//    the rotation (the transposition reads across rows).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <random>

#include <opencv2/core.hpp>

#include "band_pool.h"
#include "core/run_state.h"
#include "peer_measure.h"
#include "shell/slots/slot_orientation.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Width = 6000, Height = 4000, Slot = 1;

void Prepare() {
  static bool done = false;
  if (done) return;
  done = true;
  Store.Reset();
  Store.InUse[Slot] = 1;
  TImageSlot& im = Store.Image[Slot];
  im.Width = Width;
  im.Height = Height;
  im.PlaneCount = 3;
  im.IsColor = 1;
  im.AllocatePlanes(3);
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> v(0.0f, 65535.0f);
  for (int p = 1; p <= 3; ++p)
    for (float& x : im.Planes[size_t(p)]) x = v(rng);
}

// The three planes copied into newly allocated planes on `threads` pool threads.
void CopyPlanes(int threads) {
  TImageSlot& im = Store.Image[Slot];
  for (int p = 1; p <= 3; ++p) {
    TPlane fresh(im.Planes[size_t(p)].size());
    const float* in = im.Planes[size_t(p)].data();
    float* out = fresh.data();
    bench::PoolBands(Height, threads, [&](int64_t y0, int64_t y1) {
      std::copy(in + y0 * Width, in + y1 * Width, out + y0 * Width);
    });
    benchmark::DoNotOptimize(fresh.data());
    im.Planes[size_t(p)].swap(fresh);
  }
}

// OpenCV's turn of the three planes (flip code, or -2 for the rotation right by 90 degrees).
void OpenCvTurn(int code) {
  TImageSlot& im = Store.Image[Slot];
  for (int p = 1; p <= 3; ++p) {
    const cv::Mat src(im.Height, im.Width, CV_32F, im.Planes[size_t(p)].data());
    cv::Mat dst;
    if (code == -2)
      cv::rotate(src, dst, cv::ROTATE_90_CLOCKWISE);
    else
      cv::flip(src, dst, code);
    benchmark::DoNotOptimize(dst.data);
  }
}

template <typename F>
void RunAgainstCopy(benchmark::State& state, int code, double copyGoal, F routine) {
  Prepare();
  const uint8_t saved = UseWorkerThreads;
  const int threads = int(state.range(0));
  UseWorkerThreads = threads > 1 ? 1 : 0;
  bench::WithThreads(state, threads, [&] {
    bench::Measure(state,
                   [&] {
                     routine();
                     benchmark::ClobberMemory();
                   },
                   {{"opencv", [code] { OpenCvTurn(code); }, threads > 1 ? 0.5 : 1.0},
                    {"plain", [threads] { CopyPlanes(threads); }, copyGoal}});
  });
  UseWorkerThreads = saved;
}

void BM_Mirror(benchmark::State& state) { RunAgainstCopy(state, 1, 1.5, [] { MirrorSlotHorizontal(Slot); }); }
void BM_Flip(benchmark::State& state) { RunAgainstCopy(state, 0, 1.5, [] { FlipSlotVertical(Slot); }); }
void BM_Rotate90(benchmark::State& state) { RunAgainstCopy(state, -2, 2.0, [] { RotateSlotRight90(Slot); }); }

// Argument: worker threads (1, or all cores up to 8).
#define ORIENTATION_BENCH(fn)              \
  ASTRELON_FIGURES(fn, "opencv", "plain"); \
  BENCHMARK(fn)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0)
ORIENTATION_BENCH(BM_Mirror);
ORIENTATION_BENCH(BM_Flip);
ORIENTATION_BENCH(BM_Rotate90);

}  // namespace
}  // namespace astrelon

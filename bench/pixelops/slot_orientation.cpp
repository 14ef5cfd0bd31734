// Turning a 6000 x 4000 RGB image over in place (mirror, flip, rotation by 90
// degrees) on one and on all worker threads, each against two baselines
// measured in the same iterations. Mirror and flip work in place, the rotation
// makes new planes (the image changes its shape), and so do the baselines:
//  - OpenCV's cv::flip of the three planes into matrices kept between runs, or
//    cv::rotate into new ones (figure "opencv"; these have no threads of their
//    own): goal 1.0 on one thread, 0.5 on eight;
//  - a plain pass on as many threads of the baseline pool: every value of the
//    three planes read and written in place, or for the rotation copied into
//    new planes (figure "plain"): goal 1.5 for mirror and flip, 2 for the
//    rotation (the transposition reads across rows); vectorised for the machine.
// Check: the image turned by the routine equals OpenCV's turn of the image
// both started from (the same work), exactly.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <random>
#include <span>
#include <string>

#include <opencv2/core.hpp>

#include "band_pool.h"
#include "core/run_state.h"
#include "peer_measure.h"
#include "plain_loops.h"
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

// OpenCV's turn of the three planes: flip code 0 or 1 into `kept`, or (-2) the
// rotation right by 90 degrees into new matrices (kept too, for the check).
void OpenCvTurn(int code, std::array<cv::Mat, 3>& kept) {
  TImageSlot& im = Store.Image[Slot];
  for (int p = 1; p <= 3; ++p) {
    const cv::Mat src(im.Height, im.Width, CV_32F, im.Planes[size_t(p)].data());
    if (code == -2) {
      cv::Mat dst;
      cv::rotate(src, dst, cv::ROTATE_90_CLOCKWISE);
      benchmark::DoNotOptimize(dst.data);
      kept[size_t(p - 1)] = dst;
    } else {
      cv::flip(src, kept[size_t(p - 1)], code);
      benchmark::DoNotOptimize(kept[size_t(p - 1)].data);
    }
  }
}

template <typename F>
void RunAgainstCopy(benchmark::State& state, int code, double plainGoal, F routine) {
  Prepare();
  const uint8_t saved = UseWorkerThreads;
  const int threads = int(state.range(0));
  UseWorkerThreads = threads > 1 ? 1 : 0;
  std::array<cv::Mat, 3> kept;
  const bool rotation = code == -2;
  bench::WithThreads(state, threads, [&] {
    bench::Measure(
        state,
        [&] {
          routine();
          benchmark::ClobberMemory();
        },
        {{"opencv", [&] { OpenCvTurn(code, kept); }, threads > 1 ? 0.5 : 1.0},
         {"plain", [&] { bench::PlainSlotPass(Slot, threads, 3, rotation); }, plainGoal}},
        {},
        [&] {
          const TImageSlot& im = Store.Image[Slot];
          for (int p = 1; p <= 3; ++p) {
            const cv::Mat& theirs = kept[size_t(p - 1)];
            bench::Expect(theirs.cols == im.Width && theirs.rows == im.Height, "turned to another shape");
            bench::ExpectNear(im.Planes[size_t(p)], std::span<const float>(theirs.ptr<float>(), theirs.total()), 0,
                              "plane " + std::to_string(p) + " against OpenCV's turn");
          }
        });
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

// Speed of the filter dialog's kernels on a 4096 x 4096 grey star field with one
// thread and with all (up to eight), each against a baseline on as many threads
// timed in the same iterations:
//  - row levelling (absolute and relative) against a plain pass of the baseline
//    pool that reads the plane and writes each row shifted by a level into the
//    destination (figure "plain", goal 4: a quantile per row on top; no library
//    levels rows);
//  - the star-radius reduction at radius 5, with the full radius everywhere
//    ("Sterne ausblenden" 100 %) and at the dialog's default (10 %, the radius
//    following the star measure), against OpenCV's erosion of CV_32F with the
//    13 x 13 disc of radius 5 (figure "opencv", goal 1.5: the noise estimate
//    and the histogram come on top); the erosion pass alone (one thread)
//    against the same (goal 1.0).
// Check: each result equals that of its scalar twin (the vector loops off) run
// on the same field after the timed runs; the plain pass is vectorised for the
// machine.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

#if ASTRELON_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include "band_pool.h"
#include "core/settings.h"
#include "peer_measure.h"
#include "plain_loops.h"
#include "filters/corrections/equalize_row_brightness.h"
#include "filters/sharpening/shrink_star_radius.h"
#include "filters/sharpening/soft_erosion.h"
#include "kernels/gauss/filter_rows.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "star_field.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Side = 4096;

// Sky with noise and row banding, a few thousand stars; slot 1 the source, slot 2 its copy.
struct TBenchField {
  TBenchField() {
    bench::MakeStarFieldSlot(1, Side, 42, 3000, 5.0f);
    CopyImageSlot(1, 2);
  }
};

TBenchField& Field() {
  static TBenchField f;
  // The vector paths, as the program uses them after its processor test.
  DetectCpuFeatures();
  Sse2Enabled = HasSse2;
  return f;
}

// The baseline of row levelling: every row read and written shifted by a level
// into the destination, in row bands.
void ShiftRows(int threads) {
  const float* const p = Store.Image[1].Planes[1].data();
  float* const d = Store.Image[2].Planes[1].data();
  bench::PlainBands(Side, threads, [=](int64_t a, int64_t b) {
    for (int64_t y = a; y < b; ++y) {
      const float level = float(y % 7);
      for (int64_t i = y * Side; i < (y + 1) * Side; ++i) d[i] = p[i] - level;
    }
  });
  benchmark::ClobberMemory();
}

// The check of the destination (slot 2) against the scalar twin of `routine` on the same field.
std::function<void()> LikeScalarTwin(const std::function<void()>& routine, const char* what) {
  return [routine, what] { bench::ExpectTwin([] { return bench::SlotPlanes(2); }, {}, routine, 0, what); };
}

int Threads(const benchmark::State& state) { return state.range(0) > 1 ? FilterThreads(int64_t(Side) * Side) : 1; }

void BM_EqualizeRowBrightness(benchmark::State& state) {
  Field();
  const int threads = Threads(state);
  const bool relative = state.range(1) != 0;
  bench::WithThreads(state, threads, [&] {
    const std::function<void()> level = [relative] {
      TFilterPoll poll;
      bench::Expect(EqualizeRowBrightness(1, 2, relative, 50.0f, {0, Side - 1}, {}, poll), "row levelling stopped");
    };
    bench::Measure(state, level, {{"plain", [threads] { ShiftRows(threads); }, 4.0}}, {},
                   LikeScalarTwin(level, relative ? "rows levelled relative" : "rows levelled"));
  });
}
ASTRELON_FIGURES(BM_EqualizeRowBrightness, "plain");

void ShrinkStars(float hide) {
  TFilterPoll poll;
  bench::Expect(ShrinkStarRadius(1, 2, false, 5.0f, 1.0f, hide, {0, Side - 1, 0, Side - 1}, poll),
                "star shrinking stopped");
}

#if ASTRELON_HAVE_OPENCV
// The disc of the erosion at radius 5: the offsets nearer than 5.
cv::Mat Disc() {
  cv::Mat k = cv::Mat::zeros(13, 13, CV_8U);
  for (int dy = -6; dy <= 6; ++dy)
    for (int dx = -6; dx <= 6; ++dx)
      if (std::sqrt(float(dx * dx + dy * dy)) < 5.0f) k.at<uint8_t>(dy + 6, dx + 6) = 1;
  return k;
}

// A kernel against cv::erode with the disc, OpenCV on as many threads as the kernel.
template <typename K>
void RunAgainstErode(benchmark::State& state, double goal, K kernel, const std::function<void()>& check) {
  const int threads = Threads(state);
  Field();
  cv::Mat src(Side, Side, CV_32F, Store.Image[1].Planes[1].data());
  cv::Mat dst;
  const cv::Mat disc = Disc();
  const int savedThreads = cv::getNumThreads();
  cv::setNumThreads(threads);
  bench::WithThreads(state, threads, [&] {
    bench::Measure(state, kernel, {{"opencv", [&] { cv::erode(src, dst, disc); }, goal}}, {}, check);
  });
  cv::setNumThreads(savedThreads);
}

void BM_ShrinkStarRadiusVsErode(benchmark::State& state) {
  const std::function<void()> shrink = [] { ShrinkStars(100.0f); };
  RunAgainstErode(state, 1.5, shrink, LikeScalarTwin(shrink, "stars shrunk (100 %)"));
}
ASTRELON_FIGURES(BM_ShrinkStarRadiusVsErode, "opencv");

// The dialog's default "Sterne ausblenden" (10 %): the radius follows the star measure.
void BM_ShrinkStarRadiusDefault(benchmark::State& state) {
  const std::function<void()> shrink = [] { ShrinkStars(10.0f); };
  RunAgainstErode(state, 1.5, shrink, LikeScalarTwin(shrink, "stars shrunk (10 %)"));
}
ASTRELON_FIGURES(BM_ShrinkStarRadiusDefault, "opencv");

// The erosion pass alone (without the noise estimate before it and the histogram
// after it), on one thread: the pass has no threads of its own.
void BM_SoftErosionVsErode(benchmark::State& state) {
  Field();
  const TErosionTable table = MakeErosionTable(6, 6);
  const TErosionPlane plane{Store.Image[1].Planes[1], Store.Image[2].Planes[1], Side, {0, Side - 1, 0, Side - 1},
                            {}, 5.0f, 10.0f};
  const std::function<void()> erode = [&] {
    bench::Expect(ErodePlane(plane, table, Sse2Enabled, nullptr, 1), "erosion stopped");
  };
  RunAgainstErode(state, 1.0, erode, LikeScalarTwin(erode, "eroded plane"));
}
ASTRELON_FIGURES(BM_SoftErosionVsErode, "opencv");

BENCHMARK(BM_SoftErosionVsErode)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ShrinkStarRadiusVsErode)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ShrinkStarRadiusDefault)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
#endif

BENCHMARK(BM_EqualizeRowBrightness)
    ->Args({1, 0})
    ->Args({8, 0})
    ->Args({1, 1})
    ->Args({8, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

}  // namespace
}  // namespace astrelon

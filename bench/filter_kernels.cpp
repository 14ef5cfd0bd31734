// Speed of the filter dialog's kernels on a 4096 x 4096 grey star field with one
// thread and with all (up to eight), each against a baseline timed in the same
// iterations: row levelling against a plain pass reading the plane, the
// star-radius reduction at radius 5 with the full radius everywhere ("Sterne
// ausblenden" 100 %) against OpenCV's erosion of CV_32F with the same disc.
// The counter "ratio" is the fastest kernel run divided by the fastest baseline run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <vector>

#if ASTRELON_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include "core/settings.h"
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

// The baseline of row levelling: one pass reading every value, in row bands.
double ReadPlane(int threads) {
  const std::span<const float> p = Store.Image[1].Planes[1];
  std::vector<double> sums(size_t(threads), 0.0);
  ForEachBand(Side, threads, [&](int64_t a, int64_t b) {
    float s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    for (int64_t i = a * Side; i < b * Side; i += 4) {
      s0 += p[size_t(i)];
      s1 += p[size_t(i) + 1];
      s2 += p[size_t(i) + 2];
      s3 += p[size_t(i) + 3];
    }
    sums[size_t(a * threads / Side)] = double(s0) + s1 + s2 + s3;
  });
  double s = 0;
  for (double v : sums) s += v;
  return s;
}

// goal: the ratio it must not exceed (0: none).
template <typename B, typename K>
void RunAgainst(benchmark::State& state, B baseline, K kernel, double goal = 0) {
  Field();
  const TProgramOptions saved = Options;
  Options.Multicore = state.range(0) > 1 ? 1 : 0;
  using Clock = std::chrono::steady_clock;
  double bestBase = 1e30, bestKernel = 1e30;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    baseline();
    const auto t1 = Clock::now();
    kernel();
    const auto t2 = Clock::now();
    bestBase = std::min(bestBase, std::chrono::duration<double>(t1 - t0).count());
    const double run = std::chrono::duration<double>(t2 - t1).count();
    bestKernel = std::min(bestKernel, run);
    state.SetIterationTime(run);
  }
  Options = saved;
  state.counters["ratio"] = bestKernel / bestBase;
  if (goal > 0) state.counters["ratio_goal"] = goal;
  state.counters["base_ms"] = bestBase * 1e3;
  state.counters["kernel_ms"] = bestKernel * 1e3;
}

int Threads(const benchmark::State& state) { return state.range(0) > 1 ? FilterThreads(int64_t(Side) * Side) : 1; }

void BM_EqualizeRowBrightness(benchmark::State& state) {
  const int threads = Threads(state);
  const bool relative = state.range(1) != 0;
  RunAgainst(state, [&] { benchmark::DoNotOptimize(ReadPlane(threads)); }, [&] {
    TFilterPoll poll;
    EqualizeRowBrightness(1, 2, relative, 50.0f, {0, Side - 1}, {}, poll);
  }, 4.0);
  state.counters["threads"] = threads;
}

void ShrinkStars(float hide) {
  TFilterPoll poll;
  ShrinkStarRadius(1, 2, false, 5.0f, 1.0f, hide, {0, Side - 1, 0, Side - 1}, poll);
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
void RunAgainstErode(benchmark::State& state, K kernel) {
  const int threads = Threads(state);
  Field();
  cv::Mat src(Side, Side, CV_32F, Store.Image[1].Planes[1].data());
  cv::Mat dst;
  const cv::Mat disc = Disc();
  const int savedThreads = cv::getNumThreads();
  cv::setNumThreads(threads);
  RunAgainst(state, [&] { cv::erode(src, dst, disc); }, kernel);
  cv::setNumThreads(savedThreads);
  state.counters["threads"] = threads;
}

void BM_ShrinkStarRadiusVsErode(benchmark::State& state) {
  RunAgainstErode(state, [] { ShrinkStars(100.0f); });
}

// The erosion alone (without the noise estimate before it and the histogram after it).
void BM_SoftErosionVsErode(benchmark::State& state) {
  Field();
  const TErosionTable table = MakeErosionTable(6, 6);
  const TErosionPlane plane{Store.Image[1].Planes[1], Store.Image[2].Planes[1], Side, {0, Side - 1, 0, Side - 1},
                            {}, 5.0f, 10.0f};
  RunAgainstErode(state, [&] { ErodePlane(plane, table, Sse2Enabled, nullptr, 1); });
}
BENCHMARK(BM_SoftErosionVsErode)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ShrinkStarRadiusVsErode)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
#endif

// The dialog's default "Sterne ausblenden" (10 %): the radius follows the star measure.
void BM_ShrinkStarRadiusDefault(benchmark::State& state) {
  const int threads = Threads(state);
  RunAgainst(state, [&] { benchmark::DoNotOptimize(ReadPlane(threads)); }, [] { ShrinkStars(10.0f); }, 4.0);
  state.counters["threads"] = threads;
}

BENCHMARK(BM_EqualizeRowBrightness)
    ->Args({1, 0})
    ->Args({8, 0})
    ->Args({1, 1})
    ->Args({8, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
BENCHMARK(BM_ShrinkStarRadiusDefault)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
}  // namespace astrelon

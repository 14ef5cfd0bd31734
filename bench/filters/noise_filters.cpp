// Speed of the noise filters with one thread and with eight, each against an
// OpenCV peer on as many threads, timed in the same iterations:
//  - the edge-preserving noise filter at the dialog's defaults (a 13 x 13
//    window) on a 4096 x 4096 grey star field against cv::bilateralFilter
//    (CV_32F, d = 13, the same Gaussian sigmas in distance and value);
//  - the median filter over 9 and 21 pixels against cv::medianBlur (CV_32F,
//    ksize 3 and 5) on the same field;
//  - non-local means at the dialog's defaults (patch radius 2, search radius
//    7) on a 2048 x 2048 field of values 0..13000 against
//    cv::fastNlMeansDenoising of the same values as CV_16U (NORM_L1, template
//    5, search window 15).
// Figures "bilateral", "medianBlur" and "fastNlMeans": the fastest kernel run
// divided by the fastest peer run (goal: at most 1). Checks: the filters run
// to their end; the median over 9 pixels equals OpenCV's 3 x 3 median (the
// same work) inside the one-pixel border, exactly; every result equals that of
// the scalar twin (the vector loops off) run on the same field after the timed
// runs.
#include <benchmark/benchmark.h>

#include <cmath>
#include <functional>
#include <random>
#include <span>
#include <vector>

#if ASTRELON_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/photo.hpp>
#endif

#include "core/settings.h"
#include "filters/noise/median_filter.h"
#include "filters/noise/nlm_filter.h"
#include "filters/noise/noise_filter.h"
#include "peer_measure.h"
#include "platform/processor_features.h"
#include "star_field.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {
namespace {

#if ASTRELON_HAVE_OPENCV

// Slot 1 a star field of side x side (values scaled into 0..top when top > 0), slot 2 its copy.
void MakeField(int side, float top) {
  static int made = 0;
  if (made == side) return;
  made = side;
  DetectCpuFeatures();
  Sse2Enabled = HasSse2;
  bench::StoreStarField(1, side, 42);
  if (top > 0) {
    // Whole numbers within 0..top, brightest stars clipped (as a 16-bit picture holds them).
    for (float& v : Store.Image[1].Planes[1]) v = std::min(std::nearbyint((v - 950.0f) * 20.0f), top);
  }
  UpdateMinMax(1);
  CopyImageSlot(1, 2);
}

cv::Mat Source(int side) { return cv::Mat(side, side, CV_32F, Store.Image[1].Planes[1].data()); }

// Runs a kernel against an OpenCV peer with `threads` threads on both sides;
// its result is judged by `against` (when given) and against its scalar twin
// (the vector loops off) on the same field.
void Against(benchmark::State& state, int threads, const char* peerName, const std::function<void()>& peer,
             const std::function<void()>& kernel, const char* what, const std::function<void()>& against = {}) {
  const std::function<void()> check = [&] {
    if (against) against();
    bench::ExpectTwin([] { return bench::SlotPlanes(2); }, {}, kernel, 0, what);
  };
  const int savedThreads = cv::getNumThreads();
  cv::setNumThreads(threads);
  bench::WithThreads(state, threads, [&] { bench::Measure(state, kernel, {{peerName, peer, 1.0}}, {}, check); });
  cv::setNumThreads(savedThreads);
}

constexpr int Side = 4096;

void BM_NoiseFilterVsBilateral(benchmark::State& state) {
  MakeField(Side, 0);
  // The dialog's defaults: "Schwelle" 15 of 10 x noise / 300, "Radius" 3.25, "Gauss -> Cauchy" 25 %.
  const float threshold = 15.0f / 300.0f * 10.0f * EstimateNoise(1, 1);
  const float radius = 3.25f, cauchy = 0.25f;
  const TNoiseFilterTables t = NoiseFilterTables(threshold, radius, cauchy);
  // exp(-(d/r)^2) in distance and exp(-(0.04 k v)^2) in value as Gaussians of sigma r/sqrt2 and 1/(sqrt2 0.04 k).
  const double sigmaSpace = radius / std::sqrt(2.0), sigmaColor = 1.0 / (std::sqrt(2.0) * 0.04 * t.RangeScale);
  const cv::Mat src = Source(Side);
  cv::Mat dst;
  Against(
      state, int(state.range(0)), "bilateral",
      [&] { cv::bilateralFilter(src, dst, 2 * t.Reach + 1, sigmaColor, sigmaSpace); },
      [&] {
        TFilterPoll poll;
        bench::Expect(ApplyNoiseFilter(1, 2, threshold, radius, cauchy, {0, Side - 1, 0, Side - 1}, poll),
                      "the noise filter stopped");
      },
      "noise filter result");
  state.counters["window"] = 2 * t.Reach + 1;
}

void BM_MedianVsMedianBlur(benchmark::State& state) {
  MakeField(Side, 0);
  const int count = int(state.range(1));
  const cv::Mat src = Source(Side);
  cv::Mat dst;
  Against(
      state, int(state.range(0)), "medianBlur", [&] { cv::medianBlur(src, dst, count == 9 ? 3 : 5); },
      [&] {
        TFilterPoll poll;
        bench::Expect(ApplyMedianFilter(1, 2, count, 1, {0, Side - 1, 0, Side - 1}, poll), "the median stopped");
      },
      count == 9 ? "median of 9" : "median of 21",
      count == 9 ? std::function<void()>([&] {
        cv::Mat theirs;
        cv::medianBlur(src, theirs, 3);
        bench::ExpectNearInside(Store.Image[2].Planes[1], std::span<const float>(theirs.ptr<float>(), theirs.total()),
                                Side, Side, 1, 0, "median of 9 against OpenCV's 3 x 3 median");
      })
                 : std::function<void()>());
}

void BM_NlmVsFastNlMeans(benchmark::State& state) {
  constexpr int side = 2048;
  MakeField(side, 13000);
  const int threads = int(state.range(0));
  cv::Mat levels;
  Source(side).convertTo(levels, CV_16U);
  cv::Mat dst;
  const std::vector<float> h{30.0f};
  TNLMParams p;
  p.Source = 1;
  p.Destination = 2;
  p.X2 = p.Y2 = side - 1;
  p.PatchRadius = 2;
  p.SearchRadius = 7;
  p.Strength = 100;
  TNlmRun run;
  run.Workers = threads;
  Against(
      state, threads, "fastNlMeans", [&] { cv::fastNlMeansDenoising(levels, dst, h, 5, 15, cv::NORM_L1); },
      [&] { bench::Expect(NLMFilterStarten(p, run), "non-local means stopped"); },
      "non-local means");
}

ASTRELON_FIGURES(BM_NoiseFilterVsBilateral, "bilateral");
ASTRELON_FIGURES(BM_MedianVsMedianBlur, "medianBlur");
ASTRELON_FIGURES(BM_NlmVsFastNlMeans, "fastNlMeans");
BENCHMARK(BM_NoiseFilterVsBilateral)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_MedianVsMedianBlur)
    ->Args({1, 9})
    ->Args({8, 9})
    ->Args({1, 21})
    ->Args({8, 21})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
BENCHMARK(BM_NlmVsFastNlMeans)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

#endif

}  // namespace
}  // namespace astrelon

// Speed of the wavelet noise filter on a 4096 x 4096 grey float star field,
// with one thread and with eight, each against an OpenCV peer on as many
// threads, timed in the same iterations (the pyramid is built untimed before
// each run, since the filter works on it in place):
//  - the plain computation over the four detail layers against
//    cv::bilateralFilter (CV_32F, d = 5);
//  - "Bessere Berechnung" against cv::fastNlMeansDenoising of the field as
//    CV_16U (NORM_L1, template 3, search window 21).
// The counter "<peer>_ratio" is the fastest filter run divided by the fastest
// peer run (goal: at most 1). The rebuild alone is measured by bench_wavelet_collapse.
// Check: the filter runs to its end and the filtered pyramid (it works in
// place) equals that of the scalar twin (the vector loops off) filtering the
// same pyramid after the timed runs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#if ASTRELON_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/photo.hpp>
#endif

#include "frequency/wavelet/wavelet_noise_filter.h"
#include "frequency/wavelet/wavelet_pyramid.h"
#include "peer_measure.h"
#include "star_field.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

#if ASTRELON_HAVE_OPENCV

constexpr int Side = 4096;
const TRectI Whole{0, 0, Side - 1, Side - 1};

void Field() {
  static const bool made = [] {
    bench::MakeFilterField(Side);
    return true;
  }();
  (void)made;
}

cv::Mat Source() { return cv::Mat(Side, Side, CV_32F, Store.Image[1].Planes[1].data()); }

// The filtered pyramid's levels.
std::vector<std::vector<float>> PyramidLevels() {
  std::vector<float> levels;
  for (const TPyramidLevel& level : PyramidSets[0].Levels[1]) levels.insert(levels.end(), level.Data.begin(), level.Data.end());
  return {levels};
}

void Against(benchmark::State& state, const char* peerName, const std::function<void()>& peer, bool better) {
  Field();
  const int threads = int(state.range(0));
  const int savedThreads = cv::getNumThreads();
  cv::setNumThreads(threads);
  TWaveletFilterOptions o;
  o.Better = better;
  bench::WithThreads(state, threads, [&] {
    const std::function<void()> filter = [&] {
      bench::Expect(PyramidNoiseFilter(1, 0, 1, o, 2, Whole), "the wavelet filter stopped");
    };
    const std::function<void()> build = [] { bench::Expect(BuildPyramid(1, 0, 4, Whole), "no pyramid"); };
    bench::Measure(state, filter, {{peerName, peer, 1.0}}, build,
                   [&] { bench::ExpectTwin(PyramidLevels, build, filter, 0, "filtered pyramid"); });
  });
  cv::setNumThreads(savedThreads);
  FreePyramid(0);
}

void BM_PlainVsBilateral(benchmark::State& state) {
  Field();
  const cv::Mat src = Source();
  cv::Mat dst;
  // Value sigma of about three times the field's noise, distance sigma of a layer's reach.
  Against(
      state, "bilateral", [&] { cv::bilateralFilter(src, dst, 5, 30.0, 2.0); }, false);
}

void BM_BetterVsFastNlMeans(benchmark::State& state) {
  Field();
  cv::Mat levels;
  Source().convertTo(levels, CV_16U, 1.0, -900.0);
  cv::Mat dst;
  const std::vector<float> h{30.0f};
  Against(
      state, "fastNlMeans", [&] { cv::fastNlMeansDenoising(levels, dst, h, 3, 21, cv::NORM_L1); }, true);
}

ASTRELON_FIGURES(BM_PlainVsBilateral, "bilateral");
BENCHMARK(BM_PlainVsBilateral)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
ASTRELON_FIGURES(BM_BetterVsFastNlMeans, "fastNlMeans");
BENCHMARK(BM_BetterVsFastNlMeans)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

#endif

}  // namespace
}  // namespace astrelon

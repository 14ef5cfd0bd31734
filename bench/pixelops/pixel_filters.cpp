// Speed of the cached-blur functions of the filter dialog on a 4096 x 4096 grey
// star field, with one thread and with all (up to eight): "Gauss glätten" and
// "Gauss schärfen" once the blur is cached, against a plain pass on the baseline
// pool that reads the source and the blur and writes a mix of them (figure
// "plain", goal 1.5); "Gauss schärfen" with its blur against the same unsharp
// mask from OpenCV on as many threads: GaussianBlur (CV_32F, the same sigma)
// and addWeighted of source and blur (figure "opencv", goal 1.0). The plain
// pass is vectorised for the machine. Check: each result equals that of the
// scalar twin (the vector loops off, making its own blur) after the timed runs.
#include <benchmark/benchmark.h>

#include <cstring>
#include <functional>
#include <functional>
#include <random>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "core/settings.h"
#include "filters/dialog/filter_state.h"
#include "filters/dialog/pixel_filters.h"
#include "kernels/gauss/filter_rows.h"
#include "band_pool.h"
#include "peer_measure.h"
#include "plain_loops.h"
#include "platform/parallel_bands.h"
#include "star_field.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Side = 4096;
constexpr float Radius = 4.47f;  // sigma 3

struct TBenchField {
  TBenchField() { bench::MakeFilterField(Side); }
};

TBenchField& Field() {
  static TBenchField f;
  return f;
}

int Threads(const benchmark::State& state) { return state.range(0) > 1 ? FilterThreads(int64_t(Side) * Side) : 1; }

TFilterCall Call(int nr, float v2, float v3) {
  TFilterCall c;
  c.Funktion = nr;
  c.Source = 1;
  c.Destination = 2;
  c.Rect = {0, Side - 1, 0, Side - 1};
  c.Planes = {false, true, false, false};
  c.Value = {0, Radius, v2, v3};
  return c;
}

// The baseline: (source + blur) / 2 into the result, in row bands.
void PlainMix(int threads) {
  const float* const s = Store.Image[1].Planes[1].data();
  const float* const b = Store.Image[size_t(FilterBlurSlot)].Planes[1].data();
  float* const d = Store.Image[2].Planes[1].data();
  bench::PlainBands(Side, threads, [=](int64_t y0, int64_t y1) {
    for (int64_t i = y0 * Side; i < y1 * Side; ++i) d[i] = (s[i] + b[i]) * 0.5f;
  });
}

// The filter's result (slot 2) against the scalar twin of `run`, which makes
// its own blur (with a cached blur the result is the same).
std::function<void()> LikeScalarTwin(const std::function<void()>& run, const char* what) {
  return [run, what] { bench::ExpectTwin([] { return bench::SlotPlanes(2); }, InvalidateFilterBlur, run, 0, what); };
}

void AfterCache(benchmark::State& state, const std::function<void()>& run, const char* what) {
  Field();
  const int threads = Threads(state);
  bench::WithThreads(state, threads, [&] {
    TFilterCall first = Call(5, 50, 0);
    GaussSmooth(first);  // the cache
    bench::Measure(state, run, {{"plain", [threads] { PlainMix(threads); }, 1.5}}, {}, LikeScalarTwin(run, what));
  });
}

void Sharpen() {
  TFilterCall c = Call(3, 1, 50);
  GaussSharpen(c);
}

void BM_GaussSmoothAfterCache(benchmark::State& state) {
  AfterCache(
      state,
      [] {
        TFilterCall c = Call(5, 50, 0);
        GaussSmooth(c);
      },
      "smoothed");
}

void BM_GaussSharpenAfterCache(benchmark::State& state) { AfterCache(state, Sharpen, "sharpened"); }

void BM_GaussSharpenVsUnsharpMask(benchmark::State& state) {
  Field();
  const int threads = Threads(state);
  const cv::Mat src(Side, Side, CV_32F, Store.Image[1].Planes[1].data());
  cv::Mat blur, dst;
  cv::setNumThreads(threads);
  bench::WithThreads(state, threads, [&] {
    bench::Measure(
        state,
        [] {
          InvalidateFilterBlur();
          Sharpen();
        },
        {{"opencv",
          [&] {
            cv::GaussianBlur(src, blur, cv::Size(0, 0), double(Radius / 1.49f));
            cv::addWeighted(src, 1.5, blur, -0.5, 0.0, dst);
          },
          1.0}},
        {}, LikeScalarTwin(Sharpen, "sharpened"));
  });
}

ASTRELON_FIGURES(BM_GaussSmoothAfterCache, "plain");
ASTRELON_FIGURES(BM_GaussSharpenAfterCache, "plain");
ASTRELON_FIGURES(BM_GaussSharpenVsUnsharpMask, "opencv");

BENCHMARK(BM_GaussSmoothAfterCache)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK(BM_GaussSharpenAfterCache)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK(BM_GaussSharpenVsUnsharpMask)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(4);

}  // namespace
}  // namespace astrelon

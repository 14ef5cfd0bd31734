// Speed of the Gauss family on a 4096 x 4096 grey float star field, with one
// thread and with all (up to eight), each routine timed in the same iterations
// as its baselines: a plain copy of the plane, OpenCV's GaussianBlur (CV_32F,
// same sigma; for Gauss the same 15 taps), libvips' gaussblur at float
// precision and GraphicsMagick's BlurImage, all on the same thread count.
// Counters: the fastest routine run in ms and its ratio to the fastest run of
// each baseline (below 1: the routine is faster); the goals hold on eight
// threads: fGauss ahead of the three libraries and within 3x of the copy, Gauss
// at least as fast as OpenCV.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <magick/api.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vips/vips.h>

#include "core/settings.h"
#include "kernels/gauss/filter_rows.h"
#include "kernels/gauss/gauss_filters.h"
#include "peer_measure.h"
#include "platform/parallel_bands.h"
#include "star_field.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Side = 4096;

struct TBenchField {
  TBenchField() {
    bench::MakeFilterField(Side);
    VIPS_INIT("bench_gauss_filters");
    vips_cache_set_max(0);
    InitializeMagick(nullptr);
  }
};

TBenchField& Field() {
  static TBenchField f;
  return f;
}

int Threads(const benchmark::State& state) { return state.range(0) > 1 ? FilterThreads(int64_t(Side) * Side) : 1; }

// The plane copied into slot 2 in row bands.
void CopyPlane(int threads) {
  const float* s = Store.Image[1].Planes[1].data();
  float* d = Store.Image[2].Planes[1].data();
  ForEachBand(Side, threads, [&](int64_t a, int64_t b) {
    std::memcpy(d + a * Side, s + a * Side, size_t(b - a) * Side * sizeof(float));
  });
}

// The peers at one sigma on `threads` threads.
std::vector<bench::TPeer> Peers(int threads, double sigma, bool magick, int taps = 0) {
  std::vector<bench::TPeer> peers;
  const bool goals = threads > 1;
  peers.push_back({"copy", [threads] { CopyPlane(threads); }, goals && taps == 0 ? 3.0 : 0.0});
  peers.push_back({"opencv", [threads, sigma, taps] {
                     cv::setNumThreads(threads);
                     cv::Mat src(Side, Side, CV_32F, Store.Image[1].Planes[1].data());
                     cv::Mat dst(Side, Side, CV_32F, Store.Image[2].Planes[1].data());
                     cv::GaussianBlur(src, dst, cv::Size(taps, taps), sigma, sigma, cv::BORDER_REFLECT);
                   },
                   goals ? 1.0 : 0.0});
  if (taps == 0)
    peers.push_back({"vips", [threads, sigma] {
                       vips_concurrency_set(threads);
                       VipsImage* in = vips_image_new_from_memory(Store.Image[1].Planes[1].data(),
                                                                  size_t(Side) * Side * sizeof(float), Side, Side, 1,
                                                                  VIPS_FORMAT_FLOAT);
                       VipsImage* out = nullptr;
                       vips_gaussblur(in, &out, sigma, "precision", VIPS_PRECISION_FLOAT, nullptr);
                       size_t bytes = 0;
                       void* data = vips_image_write_to_memory(out, &bytes);
                       g_free(data);
                       g_object_unref(out);
                       g_object_unref(in);
                     },
                     goals ? 1.0 : 0.0});
  if (magick) {
    // GraphicsMagick's intensity image (values scaled to 0..1 for its float import).
    static Image* image = [] {
      std::vector<float> unit(Store.Image[1].Planes[1].begin(), Store.Image[1].Planes[1].end());
      for (float& v : unit) v = std::clamp(v / 65535.0f, 0.0f, 1.0f);
      ExceptionInfo ex;
      GetExceptionInfo(&ex);
      Image* im = ConstituteImage(Side, Side, "I", FloatPixel, unit.data(), &ex);
      DestroyExceptionInfo(&ex);
      return im;
    }();
    peers.push_back({"magick", [threads, sigma] {
                       SetMagickResourceLimit(ThreadsResource, threads);
                       ExceptionInfo ex;
                       GetExceptionInfo(&ex);
                       Image* out = BlurImage(image, 0.0, sigma, &ex);
                       if (out) DestroyImage(out);
                       DestroyExceptionInfo(&ex);
                     },
                     goals ? 1.0 : 0.0});
  }
  return peers;
}

void BM_fGauss(benchmark::State& state) {
  Field();
  const int threads = Threads(state);
  bench::WithThreads(state, threads, [&] {
    const float radius = float(state.range(1)) / 100.0f;
    const double sigma = radius / 1.49;
    bench::Measure(state, [&] { fGauss(1, 2, 1, 0, Side - 1, 0, Side - 1, radius, false, 0, 100, ""); },
                   Peers(threads, sigma, state.range(2) != 0));
  });
}

void BM_Gauss(benchmark::State& state) {
  Field();
  const int threads = Threads(state);
  bench::WithThreads(state, threads, [&] {
    const float radius = 3.0f;
    const int n = GaussHalfWindow(GaussWeightTable(radius));
    // e^-(i/r)^2 is a Gaussian of sigma r / sqrt(2).
    bench::Measure(state, [&] { Gauss(1, 2, 1, 0, Side - 1, 0, Side - 1, radius, false, 0, ""); },
                   Peers(threads, radius / std::sqrt(2.0), false, 2 * n + 1));
  });
}

void BM_sGauss(benchmark::State& state) {
  Field();
  const int threads = Threads(state);
  bench::WithThreads(state, threads, [&] {
    bench::Measure(state, [&] { sGauss(1, 2, 1, 0, Side - 1, 0, Side - 1, 3.0f, 40.0f, false, 0); },
                   {{"copy", [threads] { CopyPlane(threads); }}});
  });
}

// Threads, radius x 100, with GraphicsMagick (sigma 3 only: its blur takes seconds).
BENCHMARK(BM_fGauss)
    ->Args({1, 447, 1})
    ->Args({8, 447, 1})
    ->Args({1, 1200, 0})
    ->Args({8, 1200, 0})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(4);
BENCHMARK(BM_Gauss)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(6);
BENCHMARK(BM_sGauss)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(4);

}  // namespace
}  // namespace astrelon

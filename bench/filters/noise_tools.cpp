// Speed of the edge image, the added noise and the automatic 2D interference
// filter on 6000 x 4000 images, with one thread and with all (up to eight),
// each against a baseline on as many threads in the same iterations:
//  - SobelMagnitude (grey) against OpenCV's Sobel in x and in y (CV_32F) and its
//    magnitude (figure "opencv", goal 1.0);
//  - AddSyntheticNoise (RGB, Gaussian, white; also low-passed) against a plain
//    pass of the baseline pool writing source + 1 into the destination over the
//    same planes (figure "plain", goal 4: a Gaussian number per value; no
//    library adds this noise);
//  - the interference filter's own passes on a grey spectrum (each run on a
//    fresh copy of it, made untimed) against a plain pass of the pool reading
//    and writing every plane of the spectrum once (figure "plain", goal 4: the
//    ring statistics and the lowering; no library filters a spectrum so).
#include <benchmark/benchmark.h>

#include <random>

#if ASTRELON_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include "core/settings.h"
#include "frequency/interference/periodic_noise_filter.h"
#include "kernels/fft/spectrum_image.h"
#include "band_pool.h"
#include "peer_measure.h"
#include "pixelops/pixels/synthetic_noise.h"
#include "pixelops/spatial/sobel_magnitude.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Width = 6000, Height = 4000;
constexpr int Grey = 1, GreyCopy = 2, Colour = 3, ColourCopy = 4;

struct TBenchImages {
  TBenchImages() {
    Store.Reset();
    std::mt19937 rng(5);
    std::normal_distribution<float> noise(1000.0f, 20.0f);
    for (const auto& [slot, planes] : {std::pair{Grey, 1}, {Colour, 3}}) {
      TImageSlot& im = Store.Image[size_t(slot)];
      im.Width = Width;
      im.Height = Height;
      im.PlaneCount = planes;
      im.IsColor = planes == 3;
      im.AllocatePlanes(planes);
      for (int p = 1; p <= planes; ++p)
        for (size_t i = 0; i < im.PixelCount(); ++i)
          im.Planes[size_t(p)][i] = noise(rng) + 40.0f * float((i % Width) % 16 < 8);
      Store.InUse[size_t(slot)] = 1;
      UpdateMinMax(slot);
      CopyImageSlot(slot, slot + 1);
    }
    DetectCpuFeatures();
    ApplySimdSetting();
  }
};

void Prepare() {
  static TBenchImages images;
  SetWorkRectToImage(Grey);
}

int Threads(const benchmark::State& state) { return BandThreads(int64_t(Height), 64, state.range(0) > 1); }

#if ASTRELON_HAVE_OPENCV
void BM_SobelVsOpenCv(benchmark::State& state) {
  Prepare();
  const int threads = Threads(state);
  const int saved = cv::getNumThreads();
  cv::setNumThreads(threads);
  cv::Mat src(Height, Width, CV_32F, Store.Image[Grey].Planes[1].data());
  cv::Mat gx, gy, magnitude;
  const auto opencv = [&] {
    cv::Sobel(src, gx, CV_32F, 1, 0);
    cv::Sobel(src, gy, CV_32F, 0, 1);
    cv::magnitude(gx, gy, magnitude);
  };
  bench::WithThreads(state, threads, [&] {
    bench::Measure(state, [] { SobelMagnitude(Grey, GreyCopy); }, {{"opencv", opencv, 1.0}});
  });
  cv::setNumThreads(saved);
}
ASTRELON_FIGURES(BM_SobelVsOpenCv, "opencv");
BENCHMARK(BM_SobelVsOpenCv)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
#endif

// source + 1 into the copy, every plane, in bands of rows.
void PlainPass(int threads) {
  const TImageSlot& s = Store.Image[Colour];
  TImageSlot& d = Store.Image[ColourCopy];
  for (int p = 1; p <= 3; ++p) {
    const float* in = s.Planes[size_t(p)].data();
    float* out = d.Planes[size_t(p)].data();
    bench::PoolBands(Height, threads, [&](int64_t a, int64_t b) {
      for (int64_t i = a * Width; i < b * Width; ++i) out[i] = in[i] + 1.0f;
    });
  }
}

void BM_AddSyntheticNoise(benchmark::State& state) {
  Prepare();
  const int threads = Threads(state);
  TNoiseSettings settings;
  settings.LowPass = state.range(1) != 0;
  // Goals: 4 on one thread, 2 on all, 3 with the low pass.
  const double goal = settings.LowPass ? 3.0 : threads > 1 ? 2.0 : 4.0;
  bench::WithThreads(state, threads, [&] {
    bench::Measure(state, [&] { AddSyntheticNoise(Colour, ColourCopy, settings, 17); },
                   {{"plain", [&] { PlainPass(threads); }, goal}});
  });
}
ASTRELON_FIGURES(BM_AddSyntheticNoise, "plain");
BENCHMARK(BM_AddSyntheticNoise)
    ->Args({1, 0})
    ->Args({8, 0})
    ->Args({8, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

// Every value of every plane of the slot read and written once, in row bands.
void PlainSlotPass(int slot, int threads) {
  TImageSlot& im = Store.Image[size_t(slot)];
  for (int p = 1; p <= im.PlaneCount; ++p) {
    float* v = im.Planes[size_t(p)].data();
    const int64_t w = im.Width;
    bench::PoolBands(im.Height, threads, [&](int64_t a, int64_t b) {
      for (int64_t i = a * w; i < b * w; ++i) v[i] = v[i] * 1.0f + 0.0f;
    });
  }
  benchmark::ClobberMemory();
}

void BM_PeriodicNoiseFilterPasses(benchmark::State& state) {
  Prepare();
  const int threads = Threads(state);
  bench::WithThreads(state, threads, [&] {
    const int32_t outer = FftOuterMarginSetting();
    const int spectrum = ImageToFft2D(Grey, 2, outer);
    const int work = FindFreeSlot();
    CopyImageSlot(spectrum, work);
    bench::Measure(
        state, [&] { FilterPeriodicNoiseSpectrum(work, 2.0); },
        {{"plain", [&] { PlainSlotPass(work, threads); }, 4.0}}, [&] { CopyImageSlot(spectrum, work); });
    FreeSlot(work);
    FreeSlot(spectrum);
  });
}
ASTRELON_FIGURES(BM_PeriodicNoiseFilterPasses, "plain");
BENCHMARK(BM_PeriodicNoiseFilterPasses)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
}  // namespace astrelon

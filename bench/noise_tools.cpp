// Speed of the edge image, the added noise and the automatic 2D interference
// filter on 6000 x 4000 images, with one thread and with all (up to eight). The
// counter "ratio" is the fastest routine run over the fastest baseline run:
//  - SobelMagnitude (grey) against OpenCV's Sobel in x and in y (CV_32F) and its
//    magnitude, OpenCV on the same number of threads (when OpenCV is installed);
//  - AddSyntheticNoise (RGB, Gaussian, white) against a plain pass writing
//    source + 1 into the destination over the same planes and threads;
//  - the interference filter's own passes on a grey spectrum (each run on a
//    fresh copy of it, the copy included) against its two transforms
//    (ImageToFft2D and FftToImage2D) on the same threads.
#include <benchmark/benchmark.h>

#include <random>

#if ASTRELON_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include "core/settings.h"
#include "frequency/interference/periodic_noise_filter.h"
#include "kernels/fft/spectrum_image.h"
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
BENCHMARK(BM_SobelVsOpenCv)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
#endif

// source + 1 into the copy, every plane, in bands of rows.
void PlainPass(int threads) {
  const TImageSlot& s = Store.Image[Colour];
  TImageSlot& d = Store.Image[ColourCopy];
  for (int p = 1; p <= 3; ++p) {
    const float* in = s.Planes[size_t(p)].data();
    float* out = d.Planes[size_t(p)].data();
    ForEachBand(Height, threads, [&](int64_t a, int64_t b) {
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
BENCHMARK(BM_AddSyntheticNoise)
    ->Args({1, 0})
    ->Args({8, 0})
    ->Args({8, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

void BM_PeriodicNoiseFilterPasses(benchmark::State& state) {
  Prepare();
  const int threads = Threads(state);
  bench::WithThreads(state, threads, [&] {
    const int32_t outer = FftOuterMarginSetting();
    const int spectrum = ImageToFft2D(Grey, 2, outer);
    const int work = FindFreeSlot();
    const auto transforms = [&] {
      const int s = ImageToFft2D(Grey, 2, outer);
      const int r = FftToImage2D(s, -1, outer);
      FreeSlot(s);
      FreeSlot(r);
    };
    bench::Measure(
        state,
        [&] {
          CopyImageSlot(spectrum, work);
          FilterPeriodicNoiseSpectrum(work, 2.0);
        },
        {{"transforms", transforms, 3.0}});
    FreeSlot(work);
    FreeSlot(spectrum);
  });
}
BENCHMARK(BM_PeriodicNoiseFilterPasses)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
}  // namespace astrelon

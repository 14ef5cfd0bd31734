// Speed of the bias image from a 6000 x 4000 master dark (halved three times
// to 750 x 500, hot pixels removed, non-local means, resampled back) on all
// cores against OpenCV doing the same steps on as many threads, in the same
// iterations (figure "opencv", goal 1.5): three halvings by cv::resize
// (INTER_AREA), a 3 x 3 cv::medianBlur, cv::fastNlMeansDenoising of the values
// as CV_16U (NORM_L1, template 5, search window 13, as the filter's patch and
// search radii 2 and 6) and cv::resize back (INTER_CUBIC). Check: the routine
// reports success and the bias image equals that of the scalar twin (the
// vector loops off) made from the same dark after the timed runs.
#include <benchmark/benchmark.h>

#include <random>

#include "filters/dialog/filter_state.h"
#include "filters/noise/bias_image.h"
#include "filters/noise/nlm_filter.h"
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/photo.hpp>

#include "peer_measure.h"
#include "platform/processor_features.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int W = 6000, H = 4000;

// Slot 1 the dark (level 100, noise, a hot pixel every 50 x 40).
void MakeDark() {
  static bool made = false;
  if (made) return;
  made = true;
  DetectCpuFeatures();
  Sse2Enabled = HasSse2;
  TImageSlot& im = Store.Image[1];
  im.Width = W;
  im.Height = H;
  im.PlaneCount = 1;
  im.AllocatePlanes(1);
  std::mt19937 rng(3);
  std::normal_distribution<float> noise(100.0f, 2.0f);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) im.At(1, x, y) = (x % 50 == 7 && y % 40 == 3) ? 4000.0f : noise(rng);
  Store.InUse[1] = 1;
  UpdateMinMax(1);
}

// OpenCV's bias image of the dark in slot 1.
void OpenCvBias() {
  const cv::Mat dark(H, W, CV_32F, Store.Image[1].Planes[1].data());
  cv::Mat half = dark;
  for (int k = 0; k < 3; ++k) {
    cv::Mat next;
    cv::resize(half, next, cv::Size(), 0.5, 0.5, cv::INTER_AREA);
    half = next;
  }
  cv::Mat clean, levels, smooth, back, result;
  cv::medianBlur(half, clean, 3);
  clean.convertTo(levels, CV_16U, 100.0);
  cv::fastNlMeansDenoising(levels, smooth, std::vector<float>{300.0f}, 5, 13, cv::NORM_L1);
  smooth.convertTo(back, CV_32F, 0.01);
  cv::resize(back, result, cv::Size(W, H), 0, 0, cv::INTER_CUBIC);
  benchmark::DoNotOptimize(result.data);
}

void MakeBias() { bench::Expect(MakeBiasImage(1, 2), "no bias image"); }

void BM_BiasImageVsOpenCv(benchmark::State& state) {
  MakeDark();
  cv::setNumThreads(8);
  bench::WithThreads(state, 8, [&] {
    bench::Measure(
        state, MakeBias, {{"opencv", OpenCvBias, 1.5}}, [] { CopyImageSlot(1, 2); },
        [] { bench::ExpectTwin([] { return bench::SlotPlanes(2); }, [] { CopyImageSlot(1, 2); }, MakeBias, 0, "bias image"); });
  });
}
ASTRELON_FIGURES(BM_BiasImageVsOpenCv, "opencv");
BENCHMARK(BM_BiasImageVsOpenCv)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace astrelon

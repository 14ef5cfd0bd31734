// SharpenByGradientShift on a 4096 x 4096 RGB image, one thread and all cores,
// against OpenCV doing the same work on the same planes: the Sobel derivatives
// of the grey plane, their magnitude and a linear remap of the three planes
// (figure "opencv", goal 1.5; the remap's maps are made before the timing).
// Check: the routine reports success and its result equals that of the scalar
// twin (the vector loops off) on the same image after the timed runs.
#include <benchmark/benchmark.h>

#include <functional>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "filters/experimental/shift_sharpening.h"
#include "peer_measure.h"
#include "platform/processor_features.h"
#include "random_rgb_image.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

void BM_GradientShift_4096(benchmark::State& state) {
  const int side = 4096, threads = int(state.range(0));
  DetectCpuFeatures();
  ApplySimdSetting();
  Store.Reset();
  const cv::Mat rgb = bench::PutRandomRgbImage(1, side, side, 5);
  UpdateMinMax(1);
  CopyImageSlot(1, 2);
  cv::setNumThreads(threads);
  cv::Mat grey, gx, gy, magnitude, out;
  cv::cvtColor(rgb, grey, cv::COLOR_RGB2GRAY);
  cv::Mat mapX(side, side, CV_32F), mapY(side, side, CV_32F);
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      mapX.at<float>(y, x) = float(x) + 0.25f * float((x * 7 + y) % 5 - 2) / 2;
      mapY.at<float>(y, x) = float(y) + 0.25f * float((y * 3 + x) % 5 - 2) / 2;
    }
  const auto peer = [&] {
    cv::Sobel(grey, gx, CV_32F, 1, 0);
    cv::Sobel(grey, gy, CV_32F, 0, 1);
    cv::magnitude(gx, gy, magnitude);
    cv::remap(rgb, out, mapX, mapY, cv::INTER_LINEAR);
  };
  bench::WithThreads(state, threads, [&] {
    const std::function<void()> sharpen = [] {
      bench::Expect(SharpenByGradientShift(1, 2, 1.0, 1.0), "not sharpened");
    };
    bench::Measure(state, sharpen, {{"opencv", peer, 1.5}}, [&] { CopyImageSlot(1, 2); }, [&] {
      bench::ExpectTwin([] { return bench::SlotPlanes(2); }, [] { CopyImageSlot(1, 2); }, sharpen, 0, "sharpened image");
    });
  });
  Store.Reset();
}

}  // namespace

ASTRELON_FIGURES(BM_GradientShift_4096, "opencv");
BENCHMARK(BM_GradientShift_4096)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace astrelon

// Speed of the two-image mosaic and the exposure merge on 6000 x 4000 grey
// images (8 threads), each against a baseline in the same run: the edge-distance
// mask against cv::distanceTransform (DIST_L1, mask 3) of the same blank map
// (goal 1.0); the whole mosaic with a 1 degree two-pair rotation (bicubic)
// against cv::warpAffine (INTER_CUBIC) of the second image (goal 1.5, for the
// final pass alone); the exposure merge against a plain pass over both images
// (goal 3).
#include <benchmark/benchmark.h>

#include <cmath>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

#include "core/settings.h"
#include "peer_measure.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "registration/combination/exposure_combination.h"
#include "registration/combination/two_image_mosaic.h"
#include "store/image_store.h"
#include "store/planes/interpolation_kernels.h"

namespace astrelon {
namespace {

constexpr int W = 6000, H = 4000, Threads = 8;

void Fill(int slot, unsigned seed, float gain) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(0.0f, 1000.0f);
  TImageSlot& im = Store.Image[size_t(slot)];
  im.Width = W;
  im.Height = H;
  im.PlaneCount = 1;
  im.IsColor = 0;
  im.Planes[1].resize(size_t(W) * H);
  for (float& v : im.Planes[1]) v = 100 + gain * u(rng);
  Store.InUse[size_t(slot)] = 1;
}

struct TScene {
  TScene() {
    DetectCpuFeatures();
    ApplySimdSetting();
    cv::setNumThreads(Threads);
    Fill(1, 1, 1);
    Fill(2, 2, 1);
    Fill(4, 4, 0.25f);
    // A blank map with a blank margin and blank islands.
    TPlane& p = Store.Image[2].Planes[1];
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        if (x < 300 || (x % 997 < 40 && y % 991 < 40)) p[size_t(y) * W + x] = BlankPixel;
    map = cv::Mat(H, W, CV_8U);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) map.at<uint8_t>(y, x) = IsValidPixel(p[size_t(y) * W + x]) ? 255 : 0;
    second = cv::Mat(H, W, CV_32F, Store.Image[2].Planes[1].data());
    rotation = cv::getRotationMatrix2D(cv::Point2f(W / 2.0f, H / 2.0f), 1.0, 1.0);
    original = Store.Image[1];
  }
  cv::Mat map, second, rotation;
  TImageSlot original;
};

TScene& Scene() {
  static TScene s;
  return s;
}

void BM_MaskVsDistanceTransform(benchmark::State& state) {
  TScene& s = Scene();
  bench::Measure(state,
                 [&] {
                   auto m = EdgeDistanceMask(Store.Image[2].Planes[1], W, H, true);
                   benchmark::DoNotOptimize(m.data());
                 },
                 {{"distanceTransform",
                   [&] {
                     cv::Mat d;
                     cv::distanceTransform(s.map, d, cv::DIST_L1, 3, CV_8U);
                     benchmark::DoNotOptimize(d.data);
                   },
                   1.0}});
}

void BM_MosaicVsWarpAffine(benchmark::State& state) {
  TScene& s = Scene();
  Settings.InterpolationKind = IkBicubic;
  const double a = M_PI / 180;
  const TFloatPoint a1{1000, 1000}, a2{5000, 3000};
  auto turn = [&](TFloatPoint p) {
    return TFloatPoint{float(200 + p.X * std::cos(a) - p.Y * std::sin(a)), float(100 + p.X * std::sin(a) + p.Y * std::cos(a))};
  };
  bench::Measure(state,
                 [&] {
                   MakeMosaic(1, 2, false, a1, a2, turn(a1), turn(a2), 2);
                   benchmark::ClobberMemory();
                 },
                 {{"warpAffine",
                   [&] {
                     cv::Mat dst;
                     cv::warpAffine(s.second, dst, s.rotation, s.second.size(), cv::INTER_CUBIC, cv::BORDER_CONSTANT);
                     benchmark::DoNotOptimize(dst.data);
                   },
                   1.5}},
                 [&] { Store.Image[1] = s.original; });
}

void BM_ExposureMergeVsPlainPass(benchmark::State& state) {
  Scene();
  bench::Measure(state,
                 [&] {
                   CombineExposures(1, 4);
                   benchmark::ClobberMemory();
                 },
                 {{"pass",
                   [&] {
                     const float* l = Store.Image[1].Planes[1].data();
                     float* o = Store.Image[4].Planes[1].data();
                     ForEachBand(H, BandThreads(H, 16, true), [&](int64_t y0, int64_t y1) {
                       for (int64_t i = y0 * W; i < y1 * W; ++i) o[i] = 0.5f * (o[i] + l[i]);
                     });
                     benchmark::ClobberMemory();
                   },
                   3.0}},
                 [&] { Fill(4, 4, 0.25f); });
}

BENCHMARK(BM_MaskVsDistanceTransform)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_MosaicVsWarpAffine)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ExposureMergeVsPlainPass)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace astrelon

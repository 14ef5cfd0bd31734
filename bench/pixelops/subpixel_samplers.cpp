// Speed of the sub-pixel samplers at the positions of a 13.7 degree rotation of a
// 6000 x 4000 image (every output pixel sampled once, 8 threads) against OpenCV's
// cv::remap with the same map: Linear against INTER_LINEAR, Bikubisch against
// INTER_CUBIC (goal 1.5 each), Lanczos3 against INTER_LANCZOS4, the nearest
// peer with 8 x 8 taps for our 6 x 6 (goal 1.1); grey (InterpolatePixel) and
// RGB (InterpolatePixelRgb). Figure "opencv": our fastest run divided by
// remap's, both on 8 threads. Check: the sampled image has the fingerprint of
// a checked run (OpenCV's kernels and weights differ from ours).
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <span>
#include <vector>

#include "core/settings.h"
#include "kernels/sampling/subpixel_samplers.h"
#include "peer_measure.h"
#include "platform/parallel_bands.h"
#include "platform/parallel_chunks.h"
#include "platform/processor_features.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int W = 6000, H = 4000, Src = 1, Dst = 2, Threads = 8;

struct TScene {
  TScene() {
    DetectCpuFeatures();
    ApplySimdSetting();
    cv::setNumThreads(Threads);
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    std::vector<cv::Mat> channels;
    for (int p = 1; p <= 3; ++p) {
      TImageSlot& im = Store.Image[Src];
      im.Width = W;
      im.Height = H;
      im.PlaneCount = 3;
      im.IsColor = 1;
      im.Planes[size_t(p)].resize(size_t(W) * H);
      for (float& v : im.Planes[size_t(p)]) v = u(rng);
      channels.emplace_back(H, W, CV_32FC1, im.Planes[size_t(p)].data());
    }
    Store.InUse[Src] = 1;
    grey = channels[0];
    cv::merge(channels, rgb);
    TImageSlot& d = Store.Image[Dst];
    d = Store.Image[Src];
    Store.InUse[Dst] = 1;
    // Source position of every destination pixel of a rotation about the centre.
    mapX.create(H, W, CV_32FC1);
    mapY.create(H, W, CV_32FC1);
    const double a = -13.7 * std::numbers::pi / 180, c = std::cos(a), s = std::sin(a);
    const double cx = (W - 1) / 2.0, cy = (H - 1) / 2.0;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        mapX.at<float>(y, x) = float(cx + (x - cx) * c + (y - cy) * s);
        mapY.at<float>(y, x) = float(cy - (x - cx) * s + (y - cy) * c);
      }
  }
  cv::Mat grey, rgb, mapX, mapY;
};

TScene& Scene() {
  static TScene s;
  return s;
}

// Every destination pixel sampled at its map position, rows in bands.
template <typename F>
void SampleAll(F&& sample) {
  const TScene& s = Scene();
  ForEachChunk(H, 16, BandThreads(int64_t(W) * H, int64_t(1) << 16, true), [&](int64_t r0, int64_t r1) {
    for (int y = int(r0); y < int(r1); ++y) {
      const float* mx = s.mapX.ptr<float>(y);
      const float* my = s.mapY.ptr<float>(y);
      for (int x = 0; x < W; ++x) sample(int32_t(y) * W + x, mx[x], my[x]);
    }
  });
}

void AgainstRemap(benchmark::State& state, int kind, int cvInterpolation, double goal, const bench::TFingerprint& grey,
                  const bench::TFingerprint& rgb) {
  const bool colour = state.range(0) != 0;
  TScene& s = Scene();
  const int saved = Settings.InterpolationKind;
  SetToolMode(kind);
  float* out = Store.Image[Dst].Planes[1].data();
  // remap writes into a matrix kept between runs, as ours writes into the destination slot.
  cv::Mat dst;
  bench::Measure(
      state,
      [&] {
        if (colour)
          SampleAll([](int32_t i, float x, float y) { InterpolatePixelRgb(Src, Dst, i, x, y); });
        else
          SampleAll([out](int32_t i, float x, float y) { out[i] = InterpolatePixel(Src, 1, x, y); });
        benchmark::ClobberMemory();
      },
      {{"opencv",
        [&] {
          cv::remap(colour ? s.rgb : s.grey, dst, s.mapX, s.mapY, cvInterpolation, cv::BORDER_CONSTANT);
          benchmark::DoNotOptimize(dst.data);
        },
        goal}},
      {},
      [&] {
        const TImageSlot& d = Store.Image[Dst];
        const size_t n = d.PixelCount();
        const std::span<const float> one = std::span<const float>(d.Planes[1]).first(n);
        bench::ExpectFingerprint(colour ? bench::SlotFingerprint(Dst) : bench::Fingerprint({one}), colour ? rgb : grey,
                                 "sampled image");
      });
  SetToolMode(saved);
}

void BM_LinearVsRemapLinear(benchmark::State& state) {
  AgainstRemap(state, IkLinear, cv::INTER_LINEAR, 1.5,
               {24000000, 1255079, 0.0004650791525, 0.9992329478, 0.5002565566, 0.1948294526, -3.286234859e-06,
                -8.977617026e-06, 0.1874763581},
               {72000000, 7530618, 0.0002493712236, 0.999812007, 0.4999894307, 0.192461192, -5.041751607e-06,
                -1.08048215e-05, 0.1876416983});
}
void BM_BicubicVsRemapCubic(benchmark::State& state) {
  AgainstRemap(state, IkBicubic, cv::INTER_CUBIC, 1.5,
               {24000000, 1255149, -0.2949227691, 1.306494594, 0.5002570734, 0.2508644154, -2.56683088e-06,
                -1.110020351e-05, 0.261263609},
               {72000000, 7530891, -0.3019076884, 1.314148307, 0.4999893875, 0.250065975, -4.360377876e-06,
                -1.398234606e-05, 0.2632177109});
}
void BM_Lanczos3VsRemapLanczos4(benchmark::State& state) {
  AgainstRemap(state, IkLanczos3, cv::INTER_LANCZOS4, 1.1,
               {24000000, 1255239, -0.3832590282, 1.386716366, 0.5002563841, 0.2584613933, -3.743278536e-06,
                -1.108974102e-05, 0.274050612},
               {72000000, 7531434, -0.4194936156, 1.413777709, 0.4999893504, 0.2578850559, -5.439351641e-06,
                -1.495773836e-05, 0.2762993445});
}

#define REMAP_BENCH(name)          \
  ASTRELON_FIGURES(name, "opencv"); \
  BENCHMARK(name)->ArgName("rgb")->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5)
REMAP_BENCH(BM_LinearVsRemapLinear);
REMAP_BENCH(BM_BicubicVsRemapCubic);
REMAP_BENCH(BM_Lanczos3VsRemapLanczos4);

}  // namespace
}  // namespace astrelon

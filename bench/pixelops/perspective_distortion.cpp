// Speed of the perspective and field-distortion corrections on a 6000 x 4000
// RGB image with the bicubic kind and 8 threads: CorrectPerspective against
// OpenCV's cv::warpPerspective INTER_CUBIC with a keystone homography of the
// same size (figure "opencv", goal 1.5); the pincushion polynomial against
// cv::remap INTER_CUBIC with the map of the same positions, computed in the
// peer's time on 8 threads of the baseline pool as ours computes its positions
// (figure "opencv", goal 1.5; the map's loop vectorised for the machine).
// Check: the corrections report success and their results equal those of the
// scalar twin (the vector sampling off) after the timed runs.
#include <benchmark/benchmark.h>

#include <cmath>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "core/settings.h"
#include "band_pool.h"
#include "peer_measure.h"
#include "plain_loops.h"
#include "pixelops/geometry/field_distortion.h"
#include "pixelops/geometry/perspective_correction.h"
#include "platform/processor_features.h"
#include "random_rgb_image.h"
#include "store/image_store.h"
#include "store/planes/interpolation_kernels.h"

namespace astrelon {
namespace {

constexpr int W = 6000, H = 4000, Src = 1, Dst = 2, Threads = 8;
// Lines converging towards the bottom, and the polynomial of the pincushion runs.
const TGuideLine LineA{1000, 0, 1100, H - 1}, LineB{5000, 0, 4900, H - 1};
constexpr double PolyB = -0.03, PolyD = 1.02;

struct TScene {
  TScene() {
    DetectCpuFeatures();
    ApplySimdSetting();
    SetToolMode(IkBicubic);
    cv::setNumThreads(Threads);
    rgb = bench::PutRandomRgbImage(Src, W, H, 5);
    Store.Image[Dst] = Store.Image[Src];
    Store.InUse[Dst] = 1;
    // The keystone: the bottom corners of the result come from 100 pixels inwards.
    const cv::Point2f out[4] = {{0, 0}, {W - 1.0f, 0}, {0, H - 1.0f}, {W - 1.0f, H - 1.0f}};
    const cv::Point2f in[4] = {{0, 0}, {W - 1.0f, 0}, {100, H - 1.0f}, {W - 101.0f, H - 1.0f}};
    keystone = cv::getPerspectiveTransform(out, in);
  }
  cv::Mat rgb, keystone;
};

TScene& Scene() {
  static TScene s;
  return s;
}

TDistortionValues Pincushion() {
  TDistortionValues v;
  v.B = PolyB;
  v.D = PolyD;
  return v;
}

// The peers write into matrices kept between runs, as ours writes into the
// destination slot's planes.
// The corrected destination against the scalar twin (the vector sampling off)
// of `correct` on the same source.
void ExpectLikeScalarTwin(void (*correct)(), const char* what) {
  bench::ExpectTwin([] { return bench::SlotPlanes(Dst); }, {}, correct, 0, what);
}

void Perspective() {
  bench::Expect(CorrectPerspective(Src, Dst, LineA, LineB), "no perspective correction");
  benchmark::ClobberMemory();
}

void CorrectPincushion() {
  bench::Expect(CorrectFieldDistortion(Src, Dst, Pincushion()), "no distortion correction");
  benchmark::ClobberMemory();
}

void BM_PerspectiveBicubicVsWarpPerspective(benchmark::State& state) {
  TScene& s = Scene();
  cv::Mat dst;
  bench::WithThreads(state, Threads, [&] {
    bench::Measure(
        state, Perspective,
        {{"opencv",
          [&] {
            cv::warpPerspective(s.rgb, dst, s.keystone, s.rgb.size(), cv::INTER_CUBIC | cv::WARP_INVERSE_MAP,
                                cv::BORDER_CONSTANT);
            benchmark::DoNotOptimize(dst.data);
          },
          1.5}},
        {},
        [] { ExpectLikeScalarTwin(Perspective, "perspective corrected"); });
  });
}

// The pincushion positions of every pixel as float maps, rows on the pool.
void PincushionMaps(cv::Mat& mapX, cv::Mat& mapY) {
  mapX.create(H, W, CV_32FC1);
  mapY.create(H, W, CV_32FC1);
  const double cx = (W - 1) * 0.5, cy = (H - 1) * 0.5, r = std::sqrt(H / 2.0 * H / 2.0 + W / 2.0 * W / 2.0);
  float* const xs = mapX.ptr<float>();
  float* const ys = mapY.ptr<float>();
  bench::PlainBands(H, Threads, [=](int64_t y0, int64_t y1) {
    for (int y = int(y0); y < int(y1); ++y) {
      float* const mx = xs + size_t(y) * W;
      float* const my = ys + size_t(y) * W;
      for (int x = 0; x < W; ++x) {
        const double dx = x - cx, dy = y - cy, rho = std::sqrt(dx * dx + dy * dy) / r;
        const double s = PolyB * rho * rho + PolyD;
        mx[x] = float(cx + dx * s);
        my[x] = float(cy + dy * s);
      }
    }
  });
}

void BM_PincushionBicubicVsRemap(benchmark::State& state) {
  TScene& s = Scene();
  cv::Mat mapX, mapY, dst;
  bench::WithThreads(state, Threads, [&] {
    bench::Measure(
        state, CorrectPincushion,
        {{"opencv",
          [&] {
            PincushionMaps(mapX, mapY);
            cv::remap(s.rgb, dst, mapX, mapY, cv::INTER_CUBIC, cv::BORDER_CONSTANT);
            benchmark::DoNotOptimize(dst.data);
          },
          1.5}},
        {},
        [] { ExpectLikeScalarTwin(CorrectPincushion, "pincushion corrected"); });
  });
}

ASTRELON_FIGURES(BM_PerspectiveBicubicVsWarpPerspective, "opencv");
ASTRELON_FIGURES(BM_PincushionBicubicVsRemap, "opencv");
BENCHMARK(BM_PerspectiveBicubicVsWarpPerspective)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_PincushionBicubicVsRemap)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace astrelon

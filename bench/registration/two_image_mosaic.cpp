// Speed of the two-image mosaic (one thread and eight) and the exposure merge
// (8 threads) on 6000 x 4000 grey images, each against a peer doing the same work on as many
// threads, in the same iterations:
//  - the edge-distance mask against OpenCV making the byte map of valid pixels
//    (cv::compare) and its cv::distanceTransform (DIST_L1, mask 3); goal 1.0;
//  - the whole mosaic (1 degree two-pair rotation, bicubic) against OpenCV
//    doing its steps: both masks as above, cv::copyMakeBorder of the target by
//    the same margins, cv::warpAffine (INTER_CUBIC) of the second image onto
//    the target's grid (the level statistics) and onto the grown grid, the
//    second image's mask warped (INTER_NEAREST) and the weighted blend as a
//    plain pass on the baseline pool; goal 1.5. (The engine keeps the final
//    pass inside MakeMosaic, so it is not timed apart.)
//  - the exposure merge (both images' ranges, their ratio, the gain per level
//    and the blend) against a plain pass on the pool that reads both images and
//    writes their mean into a plane of its own; goal 3. The merge gets fresh
//    inputs before each run.
// The plain passes are vectorised for the machine. Checks: the mask equals
// OpenCV's distances (the same work) capped at 100 and at the distance to the
// image's border (which counts as an edge), inside the outermost rows and
// columns, exactly; the mosaic equals that of the scalar twin (the vector
// sampling off) made from the same images after the timed runs; the merge,
// which has no vector path, has the fingerprint of a checked run.
#include <benchmark/benchmark.h>

#include <cmath>
#include <functional>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <algorithm>
#include <random>
#include <vector>

#include "band_pool.h"
#include "core/settings.h"
#include "peer_measure.h"
#include "plain_loops.h"
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
    Fill(5, 5, 1);
    // A blank map with a blank margin and blank islands.
    TPlane& p = Store.Image[2].Planes[1];
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        if (x < 300 || (x % 997 < 40 && y % 991 < 40)) p[size_t(y) * W + x] = BlankPixel;
    second = cv::Mat(H, W, CV_32F, Store.Image[2].Planes[1].data());
    original = Store.Image[1];
    shortExposure = Store.Image[4];
    merged.resize(size_t(W) * H);
  }
  cv::Mat second;
  TImageSlot original, shortExposure;
  TPlane merged;
};

TScene& Scene() {
  static TScene s;
  return s;
}

// OpenCV's edge-distance mask of a float plane: valid pixels 255, then L1 distances.
cv::Mat DistanceMask(const cv::Mat& plane) {
  cv::Mat valid, distance;
  cv::compare(plane, BlankLimit, valid, cv::CMP_GT);
  cv::distanceTransform(valid, distance, cv::DIST_L1, 3, CV_8U);
  return distance;
}

void BM_MaskVsDistanceTransform(benchmark::State& state) {
  TScene& s = Scene();
  std::vector<uint8_t> mask;
  bench::WithThreads(state, Threads, [&] {
    bench::Measure(
        state,
        [&] {
          mask = EdgeDistanceMask(Store.Image[2].Planes[1], W, H, true);
          benchmark::DoNotOptimize(mask.data());
        },
        {{"opencv",
          [&] {
            cv::Mat d = DistanceMask(s.second);
            benchmark::DoNotOptimize(d.data);
          },
          1.0}},
        {},
        [&] {
          const cv::Mat d = DistanceMask(s.second);
          std::vector<float> ours(mask.begin(), mask.end()), want(mask.size());
          for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
              const int border = std::min({x + 1, y + 1, W - x, H - y});
              want[size_t(y) * W + size_t(x)] = float(std::min({int(d.at<uint8_t>(y, x)), border, 100}));
            }
          bench::ExpectNearInside(ours, want, W, H, 1, 0, "edge distances against OpenCV's");
        });
  });
}
ASTRELON_FIGURES(BM_MaskVsDistanceTransform, "opencv");

// Args: threads.
void BM_MosaicVsOpenCvSteps(benchmark::State& state) {
  TScene& s = Scene();
  const int threads = int(state.range(0));
  cv::setNumThreads(threads);
  Settings.InterpolationKind = IkBicubic;
  const double a = M_PI / 180, c = std::cos(a), sn = std::sin(a);
  const TFloatPoint a1{1000, 1000}, a2{5000, 3000};
  auto turn = [&](TFloatPoint p) {
    return TFloatPoint{float(200 + p.X * c - p.Y * sn), float(100 + p.X * sn + p.Y * c)};
  };
  const TMosaicMargins m = MosaicMargins(W, H, W, H, 2, a1, a2, turn(a1), turn(a2));
  const int gw = W + m.Left + m.Right, gh = H + m.Top + m.Bottom;
  // Target pixel (x, y) samples the second image at the turned position.
  const cv::Mat onTarget = (cv::Mat_<double>(2, 3) << c, -sn, 200, sn, c, 100);
  const cv::Mat onGrown = (cv::Mat_<double>(2, 3) << c, -sn, 200 - c * m.Left + sn * m.Top, sn, c,
                           100 - sn * m.Left - c * m.Top);
  const cv::Mat target(H, W, CV_32F, s.original.Planes[1].data());
  auto peer = [&] {
    const cv::Mat maskS = DistanceMask(s.second);
    cv::Mat grown, levels, warped, warpedMask;
    cv::copyMakeBorder(target, grown, m.Top, m.Bottom, m.Left, m.Right, cv::BORDER_CONSTANT, BlankPixel);
    const cv::Mat maskT = DistanceMask(grown);
    cv::warpAffine(s.second, levels, onTarget, target.size(), cv::INTER_CUBIC | cv::WARP_INVERSE_MAP,
                   cv::BORDER_CONSTANT, BlankPixel);
    cv::warpAffine(s.second, warped, onGrown, grown.size(), cv::INTER_CUBIC | cv::WARP_INVERSE_MAP,
                   cv::BORDER_CONSTANT, BlankPixel);
    cv::warpAffine(maskS, warpedMask, onGrown, grown.size(), cv::INTER_NEAREST | cv::WARP_INVERSE_MAP);
    float* t = grown.ptr<float>();
    const float* w = warped.ptr<float>();
    const uint8_t* mt = maskT.ptr<uint8_t>();
    const uint8_t* ms = warpedMask.ptr<uint8_t>();
    bench::PlainBands(gh, threads, [=](int64_t y0, int64_t y1) {
      float* const target = t;
      const float* const warpedRow = w;
      const uint8_t *const targetMask = mt, *const secondMask = ms;
      const int64_t end = y1 * gw;
#pragma omp simd
      for (int64_t i = y0 * gw; i < end; ++i) {
        const float tv = target[i], wv = warpedRow[i], wt = targetMask[i], ws = secondMask[i];
        const float blended = IsValidPixel(tv) && wt + ws > 0 ? (tv * wt + wv * ws) / (wt + ws) : wv;
        target[i] = IsValidPixel(wv) ? blended : tv;
      }
    });
    benchmark::DoNotOptimize(levels.data);
    benchmark::DoNotOptimize(t);
  };
  bench::WithThreads(state, threads, [&] {
    const std::function<void()> mosaic = [&] {
      MakeMosaic(1, 2, false, a1, a2, turn(a1), turn(a2), 2);
      benchmark::ClobberMemory();
    };
    const std::function<void()> restore = [&] { Store.Image[1] = s.original; };
    bench::Measure(state, mosaic, {{"opencv", peer, 1.5}}, restore, [&] {
      bench::ExpectTwin([] { return bench::SlotPlanes(1); }, restore, mosaic, 0, "mosaic");
    });
  });
  cv::setNumThreads(Threads);
}
ASTRELON_FIGURES(BM_MosaicVsOpenCvSteps, "opencv");

void BM_ExposureMergeVsPlainPass(benchmark::State& state) {
  TScene& s = Scene();
  bench::WithThreads(state, Threads, [&] {
    bench::Measure(
        state,
        [&] {
          CombineExposures(5, 4);
          benchmark::ClobberMemory();
        },
        {{"plain",
          [&] {
            const float* const l = Store.Image[5].Planes[1].data();
            const float* const o = Store.Image[4].Planes[1].data();
            float* const out = s.merged.data();
            bench::PlainBands(H, Threads, [=](int64_t y0, int64_t y1) {
              for (int64_t i = y0 * W; i < y1 * W; ++i) out[i] = 0.5f * (o[i] + l[i]);
            });
            benchmark::ClobberMemory();
          },
          3.0}},
        [&] { Store.Image[4].Planes[1] = s.shortExposure.Planes[1]; },
        [] {
          bench::ExpectFingerprint(bench::SlotFingerprint(4),
                                   {24000000, 0, -5649.045898, 6850.805664, 635.6089093, 1793.668277, 0.08956193702,
                                    -0.09723450976, 2067.675227},
                                   "merged exposures");
        });
  });
}
ASTRELON_FIGURES(BM_ExposureMergeVsPlainPass, "plain");

BENCHMARK(BM_MaskVsDistanceTransform)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_MosaicVsOpenCvSteps)->Arg(1)->Arg(Threads)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ExposureMergeVsPlainPass)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace astrelon

// Speed of one iteration of the iterative sharpenings on a 4096 x 4096 grey
// star field, with one thread and with all (up to eight), against OpenCV on as
// many threads, timed in the same iterations:
//  - "PSF schärfen" in its linear form: reblur, differences, correction,
//    application (bounded by the light within the PSF's reach, taken once per
//    run before the timed iterations) and flux balance with a PSF of 15 x 15
//    support, against
//    cv::filter2D (CV_32F) with that support as kernel twice (the reblur and
//    the correction), four cv::GaussianBlur (the balance's blurs, the same
//    sigmas) and five plain passes over the plane;
//  - "Iteratives Gauss schärfen": the destination's Gauss blur, the work step,
//    the work's Gauss blur at half the radius, the application and the flux
//    balance, against six cv::GaussianBlur (CV_32F, the same sigmas) and four
//    plain passes.
// The plain passes run on the baseline pool. Figure "opencv" (iteration / peer),
// goal for both on both thread counts: at most 1.5. And the Gauss sharpening's
// iteration on eight threads with the flux balance against the same iteration
// without it: figure "unbalanced", goal at most 1.5 (the balance's reference
// is taken once per run, before the timed iterations). Check: the sharpened
// plane equals that of the scalar twin (the vector loops off) after the timed
// runs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "filters/sharpening/psf/find_psf_extent.h"
#include "filters/sharpening/gauss_sharpen_passes.h"
#include "filters/sharpening/iterative_psf_sharpen.h"
#include "filters/sharpening/iterative_sharpen_levels.h"
#include "filters/sharpening/light_within_reach.h"
#include "filters/sharpening/psf_sharpen_passes.h"
#include "filters/sharpening/psf/psf_steepening.h"
#include "filters/sharpening/saturation_depth_mask.h"
#include "filters/sharpening/balance/sharpen_flux_balance.h"
#include "grey_plane_bench.h"
#include "kernels/gauss/filter_rows.h"
#include "kernels/gauss/gauss_filters.h"
#include "peer_measure.h"
#include "plain_loops.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "shell/stars/star_cutout_min_max.h"
#include "star_field.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {
namespace {

constexpr int Side = 4096;
constexpr int Centre = 15;
// A Gaussian PSF whose 2 % extent reaches 7 pixels from its centre: 15 x 15 support.
constexpr float PsfSigma = 2.6f;
// The Gauss sharpening's radius; the kernel e^(-(i/r)²) has sigma r/√2.
constexpr float Radius = 2.0f;
constexpr double Goal = 1.5;

// Slot 1 the star field, 2 the destination, 3 the blur, 4 the work plane, 5 the
// plane of the peer's plain passes.
struct TBenchField {
  TBenchField() {
    bench::MakeFilterField(Side);
    for (int s = 3; s <= 5; ++s) CopyImageSlot(1, s);
  }
};

TBenchField& Field() {
  static TBenchField f;
  return f;
}

int Threads(const benchmark::State& state) { return state.range(0) > 1 ? FilterThreads(int64_t(Side) * Side) : 1; }

float* PlaneOf(int slot) { return Store.Image[size_t(slot)].Planes[1].data(); }

cv::Mat MatOf(int slot) { return cv::Mat(Side, Side, CV_32F, PlaneOf(slot)); }

// Runs an iteration against its OpenCV peer, both on `threads` threads; the
// destination starts from the source before each run, and its result must
// equal that of the scalar twin (the iteration with the vector loops off).
template <class Peer>
void Against(benchmark::State& state, int threads, const std::function<void()>& iteration, Peer&& peer) {
  const int savedThreads = cv::getNumThreads();
  cv::setNumThreads(threads);
  bench::WithThreads(state, threads, [&] {
    bench::Measure(state, iteration, {{"opencv", peer, Goal}}, [] { CopyPlane(1, 1, 2, 1); }, [&] {
      bench::ExpectTwin([] { return std::vector<std::vector<float>>{bench::SlotPlanes(2)[0]}; },
                        [] { CopyPlane(1, 1, 2, 1); }, iteration, 0, "sharpened plane");
    });
  });
  cv::setNumThreads(savedThreads);
}

// The taps of the support (cutout coordinates) whose PSF value passes `keep`, weighted by `weight`.
template <class Keep, class Weight>
std::vector<TPsfTap> Taps(const TStarCutout& psf, const TRectI& support, Keep keep, Weight weight) {
  std::vector<TPsfTap> taps;
  for (int j = support.Top; j <= support.Bottom; ++j)
    for (int i = support.Left; i <= support.Right; ++i) {
      const float v = psf.At(1, i, j);
      if (IsValidPixel(v) && keep(v)) taps.push_back({j - Centre, i - Centre, weight(v)});
    }
  return taps;
}

void BM_PsfSharpenIteration(benchmark::State& state) {
  Field();
  const int threads = Threads(state);
  TStarCutout psf;
  for (int y = 0; y < StarCutoutSize; ++y)
    for (int x = 0; x < StarCutoutSize; ++x)
      psf.At(1, x, y) = 1000.0f * std::exp(-float((x - Centre) * (x - Centre) + (y - Centre) * (y - Centre)) /
                                           (2 * PsfSigma * PsfSigma));
  CutoutMinMax(psf);
  PrepareSteepenedPsf(psf);
  TRectI support;
  FindPsfExtent(psf, support);
  const float t = psf.PlaneMax[1] / 75;
  const std::vector<TPsfTap> reblurTaps =
      Taps(psf, support, [t](float v) { return std::fabs(v) > t; }, [](float v) { return v; });
  const std::vector<TPsfTap> correctionTaps =
      Taps(SteepenedPsf, support, [](float v) { return std::fabs(v) > 0.04f; }, [](float v) { return v; });
  state.counters["support"] = support.Right - support.Left + 1;
  state.counters["taps"] = double(reblurTaps.size());

  const TPsfSharpenLevels lv = PsfSharpenLevels(1, 1, 0.5f, true);
  TPercentileLevels levels;
  GetPercentileLevels(1, 1, 0, Side - 1, 0, Side - 1, 98.5, 98.5, levels);
  std::vector<uint8_t> marks;
  SaturationDepthMask(Store.Image[1].Planes[1], Side, Side, float(levels.LevelA), marks);
  // The give-back keeps the marked pixels and the floors at hi, and both it and the application the
  // bound, as the sharpening's do.
  const float keepAbove = std::nextafter(float(levels.LevelA), -HUGE_VALF);
  std::vector<float> A(size_t(Side) * Side), R2(size_t(Side) * Side), C(size_t(Side) * Side);
  // The linear form, as the sharpening runs it.
  const TWorkRect rect{0, Side - 1, 0, Side - 1};
  const float radius = BalanceRadius(reblurTaps);
  const double sigma = radius / std::sqrt(2.0);
  TFluxBalance balance(rect);
  balance.Prepare(1, Store.Image[1].Planes[1], Side, Side, radius, lv.Lo, lv.A, lv.Noise, Sse2Enabled);
  const TBalanceRows rows = balance.Rows(1);
  const TPsfPass pass{PlaneOf(2), PlaneOf(2), PlaneOf(1), marks.data(), A.data(), R2.data(), C.data(),
                      Side,       rect,       &rows};
  const TReblurSettings reblur{false, lv.Lo, lv.A, psf.PlaneMax[1]};
  std::vector<float> bound;
  LightWithinReach(Store.Image[1].Planes[1], Side, rect,
                   {support.Left - Centre, support.Top - Centre, support.Right - Centre, support.Bottom - Centre},
                   lv.Background, bound);
  const TCorrectionSettings correction{1.0f, lv.S, lv.D, lv.Lo, lv.Step, false};
  const TApplySettings apply{lv.S, 1.0f, lv.Hi, bound.data()};

  cv::Mat kernel(support.Bottom - support.Top + 1, support.Right - support.Left + 1, CV_32F);
  for (int j = 0; j < kernel.rows; ++j)
    for (int i = 0; i < kernel.cols; ++i) kernel.at<float>(j, i) = psf.At(1, support.Left + i, support.Top + j);
  const cv::Mat src = MatOf(1);
  cv::Mat dst, blurred;
  Against(
      state, threads,
      [&] {
        const bool vector = Sse2Enabled;
        ForEachBand(Side, threads, [&](int64_t a, int64_t b) { ReblurRows(pass, reblurTaps, reblur, a, b, vector); });
        ForEachBand(Side, threads, [&](int64_t a, int64_t b) { DifferenceRows(pass, a, b); });
        balance.Mark(1);
        ForEachBand(Side, threads,
                    [&](int64_t a, int64_t b) { CorrectionRows(pass, correctionTaps, correction, a, b, vector); });
        ForEachBand(Side, threads, [&](int64_t a, int64_t b) { ApplyCorrectionRows(pass, apply, a, b, vector); });
        balance.GiveBack(1, PlaneOf(2), Side, {PlaneOf(1), keepAbove, true, true, lv.Hi, bound.data()}, lv.Step,
                         vector);
      },
      [&] {
        // The reblur and the correction, the balance's blurs, the per-pixel passes.
        cv::filter2D(src, dst, CV_32F, kernel);
        cv::filter2D(src, dst, CV_32F, kernel);
        for (double s : {2 * sigma, 2 * sigma, sigma, sigma}) cv::GaussianBlur(src, blurred, cv::Size(0, 0), s);
        for (int k = 0; k < 5; ++k) bench::PlainSlotPass(5, threads, 1);
      });
}

// One "Iteratives Gauss schärfen" iteration on slot 2 (the source in slot 1,
// the blur in 3, the work in 4) on `threads` threads, with or without the flux
// balance.
class TGaussSharpenIteration {
public:
  TGaussSharpenIteration() : blurredWork_(size_t(Side) * Side), balance_(Rect) {
    st_.K = 1.0f;
    st_.Levels = GaussSharpenLevels(1, 1, 1.0f, true, Radius);
    const TGaussSharpenLevels& l = st_.Levels;
    balance_.Prepare(1, Store.Image[1].Planes[1], Side, Side, Radius, l.Lo, l.Hi - l.Lo, l.Noise, Sse2Enabled);
    rows_ = balance_.Rows(1);
  }
  void operator()(int threads, bool balanced) {
    const bool vector = Sse2Enabled;
    TGaussSharpenPlanes planes{PlaneOf(1), PlaneOf(2), PlaneOf(3), PlaneOf(4), Side, Rect};
    if (balanced) planes.Balance = &rows_;
    Gauss(2, 3, 1, 0, Side - 1, 0, Side - 1, Radius, false, -1, "");
    ForEachBand(Side, threads, [&](int64_t a, int64_t b) { GaussSharpenWorkRows(planes, st_, a, b, vector); });
    if (balanced) balance_.Mark(1);
    // The work's blur goes to a plane of its own, as in the dialog.
    TGaussPlaneRun run;
    run.Vector = vector;
    GaussPlane({Store.Image[4].Planes[1], blurredWork_, Side, Side, Rect}, Radius / 2, run);
    planes.Work = blurredWork_.data();
    ForEachBand(Side, threads, [&](int64_t a, int64_t b) { GaussSharpenApplyRows(planes, st_, a, b, vector); });
    const TGaussSharpenLevels& l = st_.Levels;
    if (balanced) balance_.GiveBack(1, PlaneOf(2), Side, {PlaneOf(1), l.Sat}, l.Step, vector);
  }

private:
  static constexpr TWorkRect Rect{0, Side - 1, 0, Side - 1};
  TGaussSharpenStep st_;
  TPlane blurredWork_;
  TFluxBalance balance_;
  TBalanceRows rows_;
};

void BM_GaussSharpenIteration(benchmark::State& state) {
  Field();
  const int threads = Threads(state);
  TGaussSharpenIteration iteration;
  const double sigma = Radius / std::sqrt(2.0);
  const cv::Mat src = MatOf(1);
  cv::Mat blur, work, balanced;
  Against(
      state, threads, [&] { iteration(threads, true); },
      [&] {
        cv::GaussianBlur(src, blur, cv::Size(0, 0), sigma);
        cv::GaussianBlur(blur, work, cv::Size(0, 0), sigma / 2);
        for (double s : {2 * sigma, 2 * sigma, sigma, sigma}) cv::GaussianBlur(src, balanced, cv::Size(0, 0), s);
        for (int k = 0; k < 4; ++k) bench::PlainSlotPass(5, threads, 1);
      });
}

// The same iteration on eight threads with the flux balance against it
// without: figure "unbalanced", goal at most 1.5.
void BM_GaussSharpenBalance(benchmark::State& state) {
  Field();
  const int threads = Threads(state);
  TGaussSharpenIteration iteration;
  bench::WithThreads(state, threads, [&] {
    auto prepare = [] { CopyPlane(1, 1, 2, 1); };
    bench::Measure(state, [&] { iteration(threads, true); }, {{"unbalanced", [&] { iteration(threads, false); }, Goal}},
                   prepare, [&] {
                     bench::ExpectTwin([] { return std::vector<std::vector<float>>{bench::SlotPlanes(2)[0]}; }, prepare,
                                       [&] { iteration(threads, true); }, 0, "sharpened plane");
                   });
  });
}

ASTRELON_FIGURES(BM_PsfSharpenIteration, "opencv");
ASTRELON_FIGURES(BM_GaussSharpenIteration, "opencv");
ASTRELON_FIGURES(BM_GaussSharpenBalance, "unbalanced");
BENCHMARK(BM_PsfSharpenIteration)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_GaussSharpenIteration)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_GaussSharpenBalance)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace astrelon

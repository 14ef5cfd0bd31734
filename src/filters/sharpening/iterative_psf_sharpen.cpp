#include "filters/sharpening/iterative_psf_sharpen.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

#include "common/engine_ui.h"
#include "common/pascal_format.h"
#include "filters/dialog/filter_state.h"
#include "filters/dialog/pixel_filter_frame.h"
#include "filters/sharpening/balance/local_background.h"
#include "filters/sharpening/balance/sharpen_flux_balance.h"
#include "filters/sharpening/cores/kept_cores.h"
#include "filters/sharpening/iterative_sharpen_levels.h"
#include "filters/sharpening/light_within_reach.h"
#include "filters/sharpening/psf/find_psf_extent.h"
#include "filters/sharpening/psf/psf_centring.h"
#include "filters/sharpening/psf/picture_noise.h"
#include "filters/sharpening/psf/psf_star_check.h"
#include "filters/sharpening/psf_sharpen_passes.h"
#include "filters/sharpening/saturation_depth_mask.h"
#include "kernels/gauss/filter_rows.h"
#include "platform/processor_features.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

constexpr int Centre = 15;
// How many noise levels the local background must rise above the plane's
// before the floor of the steps rises with it (a nebula, not the noise or
// the wings of stars on plain sky).
constexpr float NebulaClear = 3.0f;

// The weights of one plane of the steepened PSF for an image plane of noise
// level b. Below W1 (PSF units: a fifth of the weight of the values above
// 0.04) the correction has too little support; W2 (image units: the noise
// level b of a mean over the PSF's core of sum1 pixels) is the knee of the soft
// step, so that corrections at the noise level are damped. Each threshold thus
// compares with a quantity of its own units, on data of any scale.
struct TPsfWeights {
  float W1 = 0.1f, W2 = 1.0f;
};

TPsfWeights PsfWeights(const TStarCutout& steepened, int k, float b) {
  double sum1 = 0, sum2 = 0;
  for (float v : steepened.Planes[size_t(k - 1)]) {
    if (!IsValidPixel(v)) continue;
    const double a = std::fabs(v);
    if (a > 0.2) sum1 += a;
    if (a > 0.04) sum2 += a;
  }
  TPsfWeights w;
  w.W1 = std::max(float(0.2 * sum2), 0.1f);
  w.W2 = sum1 > 0 ? float(b / std::sqrt(2 * sum1)) : b;
  return w;
}

// The taps of the support whose PSF value v is valid and passes `keep`, with
// weight(v).
template <class Keep, class Weight>
std::vector<TPsfTap> SupportTaps(const TStarCutout& psf, int q, const TRectI& support, Keep keep, Weight weight) {
  std::vector<TPsfTap> taps;
  for (int j = support.Top; j <= support.Bottom; ++j)
    for (int i = support.Left; i <= support.Right; ++i) {
      const float v = psf.At(q, Centre + i, Centre + j);
      if (IsValidPixel(v) && keep(v)) taps.push_back({j, i, weight(v)});
    }
  return taps;
}

// Rows [y1, y2] of the rectangle in chunks over the threads, the poll between
// chunks showing `from` .. `to` percent of the plane; `cost` pixels per column
// of a row. False when the poll stopped it.
template <class F>
bool RowPass(const TWorkRect& r, int plane, int64_t cost, TFilterPoll& poll, float from, float to, F&& fn) {
  const float rows = float(r.y2 - r.y1 + 1);
  return ForEachChunk(
      r.y1, int64_t(r.y2) + 1, int64_t(r.x2 - r.x1 + 1) * std::max<int64_t>(cost, 1), fn,
      [&](int64_t last) { return poll.ContinuePercent(plane, from + (to - from) * float(last - r.y1 + 1) / rows); });
}

// A quick per-pixel pass over the rows of the rectangle on all threads.
template <class F>
void AllRows(const TWorkRect& r, F&& fn) {
  ForEachChunk(r.y1, int64_t(r.y2) + 1, r.x2 - r.x1 + 1, fn, [](int64_t) { return true; });
}

}  // namespace

float BalanceRadius(std::span<const TPsfTap> taps, double reach2) {
  double sum = 0, moment = 0;
  for (const TPsfTap& t : taps) {
    if (!(t.W > 0) || !(double(t.Dx) * t.Dx + double(t.Dy) * t.Dy < reach2)) continue;
    sum += t.W;
    moment += double(t.W) * (double(t.Dx) * t.Dx + double(t.Dy) * t.Dy);
  }
  // The Gauss kernel of radius R has sigma R/√2.
  const double sigma = sum > 0 ? std::sqrt(moment / (2 * sum)) : 0.0;
  return float(std::sqrt(2.0) * std::max(sigma, 0.5));
}

void IterativePsfSharpen(TFilterCall& c, const TStarCutout& pickedPsf, const TStarCutout& steepenedPsf, bool balanced,
                         bool keepCores) {
  FilterAborted = false;
  if (!PrepareCall(c)) return;
  const TImageSlot& src = Store.Image[size_t(c.Source)];
  TCallPlanes planes(c);
  auto selected = [&](int p) { return c.Planes[size_t(p)] && planes.Usable(p); };
  // Each plane's PSF plane: its own, or one of another colour when its own is
  // noise. A PSF of noise sharpens nothing and runs away: when no plane holds
  // a star, nothing is changed and the user is told.
  const std::array<bool, 4> sharpened{false, selected(1), selected(2), selected(3)};
  const std::array<int, 4> psfPlane = PsfPlanesFor(pickedPsf, sharpened, PsfOwnNoise(pickedPsf, c.Source));
  if (sharpened != std::array<bool, 4>{} && psfPlane == std::array<int, 4>{}) {
    EngineUi().ShowMessage(NoStarInPsfText());
    return;
  }
  TFilterPoll fallback;
  TFilterPoll& poll = c.Poll ? *c.Poll : fallback;
  for (int p = 1; p <= std::min(src.PlaneCount, 3); ++p) CopyPlane(c.Source, p, c.Destination, p);
  if (FilterBlurValid) {
    ReleaseFilterSlot(FilterBlurSlot);
    InvalidateFilterBlur();
  }
  const TWorkRect r = c.Rect;
  const int32_t iterations = SharpenIterations(c.Value[2]);
  if (r.x2 - r.x1 < 2 || r.y2 - r.y1 < 2 || iterations < 1) return;

  // Both PSFs with their planes' weights centred on index 15, so that nothing
  // moves (psf_centring.h); the support: the picked PSF's significant
  // rectangle as offsets around its centre.
  TStarCutout picked = pickedPsf, steepened = steepenedPsf;
  CentrePsfPair(picked, steepened);
  std::array<float, 4> tapThreshold{};
  // The picked star's own reach in each plane (a disc clear of a
  // neighbour's light, psf_centring.h), for the flux balance's width.
  std::array<double, 4> starReach{};
  TRectI support;
  FindPsfExtent(picked, support);
  for (int q = 1; q <= std::clamp(picked.PlaneCount, 1, 3); ++q) {
    tapThreshold[size_t(q)] = PsfTapThreshold(picked, q);
    starReach[size_t(q)] = PsfStarReach(picked, q, support, tapThreshold[size_t(q)],
                                        float(PsfStarRise * PsfFrameOf(picked, q).Noise));
  }
  support = {support.Left - Centre, support.Top - Centre, support.Right - Centre, support.Bottom - Centre};
  const bool quadratic = c.Radio[1] != 0;
  balanced = balanced && !quadratic;

  const int32_t W = src.Width;
  // Per plane: its levels, the weights of its PSF plane with its noise level,
  // and the saturation marks: at or above the larger of the 98.5 % level less
  // e/2 and the plane's maximum less e, e a fiftieth of the plane's range. The
  // balance's give-back keeps the same pixels: those above the float just below
  // that level. No pixel rises above the light within the support's reach
  // (light_within_reach.h), and the cores the run shows kept (kept_cores.h).
  std::array<TPsfSharpenLevels, 4> levels{};
  std::array<TPsfWeights, 4> weights{};
  std::array<std::vector<uint8_t>, 4> marks;
  std::array<float, 4> keepAbove{};
  std::array<std::vector<float>, 4> bound, floor, background;
  std::array<std::vector<TPsfTap>, 4> reblurTaps, correctionTaps;
  std::array<float, 4> radius{};
  TKeptCores kept;
  const bool vector = Sse2Enabled;
  for (int p = 1; p <= 3; ++p) {
    if (!selected(p)) continue;
    const TPsfSharpenLevels& lv = levels[size_t(p)] = PsfSharpenLevels(c.Source, p, c.Value[1], c.Checked[1]);
    if (psfPlane[size_t(p)] <= std::clamp(steepened.PlaneCount, 1, 3))
      weights[size_t(p)] = PsfWeights(steepened, psfPlane[size_t(p)], lv.B);
    const float e = lv.Range * 0.02f;
    TPercentileLevels percentile;
    GetPercentileLevels(c.Source, p, 0, W - 1, 0, src.Height - 1, 98.5, 98.5, percentile);
    const float sat = std::max(float(percentile.LevelA) - e / 2, src.PlaneMax[size_t(p)] - e);
    SaturationDepthMask(src.Planes[size_t(p)], W, src.Height, sat, marks[size_t(p)]);
    keepAbove[size_t(p)] = std::nextafter(sat, -HUGE_VALF);
    LightWithinReach(src.Planes[size_t(p)], W, r, support, lv.Background, bound[size_t(p)]);
    // The taps of the plane's PSF plane, the balance's width, and the floor
    // of its steps: hi, raised by as much as the local background
    // (local_background.h) stands more than NebulaClear noise levels above the
    // plane's, so that a star's wings on a nebula are not dug into a dark
    // halo, as on plain sky they are not dug below hi.
    const int q = psfPlane[size_t(p)];
    const float t = tapThreshold[size_t(q)];
    reblurTaps[size_t(p)] = SupportTaps(
        picked, q, support, [t](float v) { return std::fabs(v) > t; },
        [quadratic](float v) { return quadratic ? v * std::fabs(v) : v; });
    correctionTaps[size_t(p)] = SupportTaps(
        steepened, q, support, [](float v) { return std::fabs(v) > 0.04f; }, [](float v) { return v; });
    radius[size_t(p)] = BalanceRadius(reblurTaps[size_t(p)], starReach[size_t(q)]);
    const size_t n = size_t(r.x2 - r.x1 + 1) * size_t(r.y2 - r.y1 + 1);
    std::vector<float> work(n);
    std::vector<float>& local = background[size_t(p)];
    local.resize(n);
    if (!BalanceBackground(src.Planes[size_t(p)], W, src.Height, r, radius[size_t(p)], vector, work, local))
      std::fill(local.begin(), local.end(), BlankPixel);
    const float clear = lv.Background + NebulaClear * lv.Noise;
    floor[size_t(p)].resize(n);
    for (size_t i = 0; i < n; ++i)
      floor[size_t(p)][i] = lv.Hi + (IsValidPixel(local[i]) ? std::max(local[i] - clear, 0.0f) : 0.0f);
    if (keepCores) kept.Prepare(p, src.Planes[size_t(p)], W, src.Height, r, lv.Background, lv.Noise, lv.Clip);
  }

  const size_t rectPixels = size_t(r.x2 - r.x1 + 1) * size_t(r.y2 - r.y1 + 1);
  std::vector<float> A(rectPixels, BlankPixel), R2(rectPixels), C(rectPixels, BlankPixel);
  // The linear form keeps the stars' flux (sharpen_flux_balance.h).
  TFluxBalance balance(balanced ? r : TWorkRect{0, -1, 0, -1});
  bool stopped = false;
  for (int32_t it = 1; it <= iterations && !stopped && !poll.Stopped(); ++it) {
    poll.SetCaption(c.Caption + "  I: " + IntToStr(it));
    for (int p = 1; p <= 3; ++p)
      if (selected(p)) kept.Resume(p, planes.Dst.Planes[size_t(p)]);
    for (int p = 1; p <= 3 && !stopped; ++p) {
      if (!selected(p)) continue;
      const TPsfSharpenLevels& lv = levels[size_t(p)];
      const int q = psfPlane[size_t(p)];
      const float pk = std::max(std::fabs(picked.PlaneMax[size_t(q)]), 0.1f);
      TPsfPass pass{planes.Out(p), planes.Out(p), planes.In(p), marks[size_t(p)].data(), A.data(), R2.data(),
                    C.data(),      W,             r};
      TBalanceRows rows;
      if (balanced) {
        if (it == 1)
          balance.Prepare(p, src.Planes[size_t(p)], W, src.Height, radius[size_t(p)], lv.Lo, lv.A, lv.Noise, vector,
                          background[size_t(p)]);
        rows = balance.Rows(p);
        pass.Balance = &rows;
      }
      const TReblurSettings reblur{quadratic, lv.Lo, lv.A, pk};
      if (!RowPass(r, p, int64_t(reblurTaps[size_t(p)].size()) / 8, poll, 0, 50, [&](int64_t y0, int64_t y1) {
            ReblurRows(pass, reblurTaps[size_t(p)], reblur, y0, y1, vector);
          })) {
        stopped = true;
        break;
      }
      AllRows(r, [&](int64_t y0, int64_t y1) { DifferenceRows(pass, y0, y1); });
      if (balanced) balance.Mark(p);
      const TPsfWeights& w = weights[size_t(p)];
      const TCorrectionSettings correction{w.W1, lv.S, lv.D, lv.Lo, lv.Step, c.Checked[2]};
      if (!RowPass(r, p, int64_t(correctionTaps[size_t(p)].size()) / 4, poll, 50, 100, [&](int64_t y0, int64_t y1) {
            CorrectionRows(pass, correctionTaps[size_t(p)], correction, y0, y1, vector);
          })) {
        stopped = true;
        break;
      }
      const TApplySettings apply{lv.S, w.W2, lv.Hi, bound[size_t(p)].data(), floor[size_t(p)].data()};
      AllRows(r, [&](int64_t y0, int64_t y1) { ApplyCorrectionRows(pass, apply, y0, y1, vector); });
      // The give-back leaves the saturated pixels and those below hi no lower
      // than the application found them, and the others not below hi.
      if (balanced)
        balance.GiveBack(p, planes.Out(p), W,
                         {planes.In(p), keepAbove[size_t(p)], true, true, lv.Hi, bound[size_t(p)].data(),
                          floor[size_t(p)].data()},
                         lv.Step,
                         vector);
    }
    for (int p = 1; p <= 3; ++p)
      if (selected(p)) kept.Show(p, planes.Dst.Planes[size_t(p)]);
    if (!stopped && c.Redraw) c.Redraw(c.Destination);
  }
  EndFilterRun(poll, !stopped && !poll.Stopped());
}

}  // namespace astrelon

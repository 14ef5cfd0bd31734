#include "kernels/alignment/stars/find_star_centroid.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <span>

#include "core/batch_state.h"
#include "kernels/alignment/stars/box_object.h"
#include "kernels/alignment/stars/box_star_choice.h"
#include "kernels/alignment/stars/box_stars.h"
#include "kernels/alignment/stars/deblended_star_fit.h"
#include "kernels/alignment/brightest_in_work_rect.h"
#include "kernels/alignment/disc_centre.h"
#include "kernels/alignment/match_quality.h"
#include "kernels/mosaic/mosaic_star_fit.h"
#include "kernels/alignment/shift_by_correlation.h"
#include "kernels/sampling/pixel_access.h"
#include "shell/stars/star_pick.h"
#include "store/display/display_histogram.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

TFloatPoint StarPosition;
int32_t StarAperture = 1;
bool StarPeakOutsideBox = false;
double StarFlux = 0;
TFittedNeighbours StarNeighbours;

namespace {

constexpr int32_t ProfileReach = 15;
// How far a star box's fit may be drawn from the star's own peak.
constexpr double FitReach = 1.0;
// The stars whose light may fall on a star's cutout.
constexpr int32_t NeighbourReach = 18;
// How far the box's object may reach beyond the box's brightest place: the
// half of the star cutout that measures it.
constexpr int32_t ClimbReach = 15;

int32_t RoundToInt(double v) { return int32_t(std::nearbyint(std::clamp(v, -2e9, 2e9))); }

// The profile of a star along one axis: the mean of the valid pixels among
// three neighbouring lines at offsets lo .. hi from the start point.
struct TProfile {
  int32_t Lo = 0, Hi = 0;
  double Values[2 * ProfileReach + 1]{};
  bool Valid[2 * ProfileReach + 1]{};
  double Min = 1e30, Max = -1e30;
  double At(int32_t d) const { return Values[d + ProfileReach]; }
  bool ValidAt(int32_t d) const { return Valid[d + ProfileReach]; }
};

// Along x (horizontal) or y from (x, y): offsets limited to the image.
TProfile MeasureProfile(int slot, int plane, int32_t x, int32_t y, bool horizontal) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  const int32_t at = horizontal ? x : y, size = horizontal ? im.Width : im.Height;
  TProfile p;
  p.Lo = std::max(-ProfileReach, -at);
  p.Hi = std::min(ProfileReach, size - 1 - at);
  for (int32_t d = p.Lo; d <= p.Hi; ++d) {
    double sum = 0;
    int32_t n = 0;
    for (int32_t k = -1; k <= 1; ++k) {
      const float v = horizontal ? GetPixelValue(slot, plane, x + d, y + k) : GetPixelValue(slot, plane, x + k, y + d);
      if (IsValidPixel(v)) {
        sum += v;
        ++n;
      }
    }
    if (n == 0) continue;
    p.Valid[d + ProfileReach] = true;
    p.Values[d + ProfileReach] = sum / n;
    p.Min = std::min(p.Min, sum / n);
    p.Max = std::max(p.Max, sum / n);
  }
  return p;
}

// A profile through the peak of a box's object: its highest value is the
// object's own top (within two pixels of the peak), not a brighter object
// further along the line, so that the walk finds the object's own level.
void KeepOwnTop(TProfile& p) {
  double top = -1e30;
  for (int32_t d = std::max(p.Lo, -2); d <= std::min(p.Hi, 2); ++d)
    if (p.ValidAt(d)) top = std::max(top, p.At(d));
  if (top > -1e30) p.Max = std::min(p.Max, top);
}

// Walks from the centre in steps of `step` until the profile falls below the
// level or the offset reaches the end of the profile.
int32_t WalkToLevel(const TProfile& p, int32_t step, double level) {
  const int32_t end = step < 0 ? p.Lo : p.Hi;
  int32_t d = step;
  if ((step < 0 && d < end) || (step > 0 && d > end)) return end;
  while (d != end && !(p.ValidAt(d) && p.At(d) < level)) d += step;
  return d;
}

// The star's 20 % level between the profile's lowest and highest value (their
// distance at least the noise).
double ProfileLevel(TProfile& p, double noise) {
  if (p.Min + noise >= p.Max) p.Max = p.Min + noise;
  return p.Min + 0.2 * (p.Max - p.Min);
}

// Position of a star on an undebayered colour mosaic: the midpoints between
// the places where three-pixel profiles through it fall to their 20 % level.
// Returns the star's width across the rows. `ownTop`: the profiles start at
// the peak of a box's object and measure it alone.
int32_t MosaicProfileSearch(int slot, int plane, double noise, bool ownTop, int32_t& bx, int32_t& by, double& peak) {
  TProfile h = MeasureProfile(slot, plane, bx, by, true);
  if (ownTop) KeepOwnTop(h);
  double level = ProfileLevel(h, noise);
  bx += (WalkToLevel(h, -1, level) + WalkToLevel(h, 1, level)) / 2;
  TProfile v = MeasureProfile(slot, plane, bx, by, false);
  if (ownTop) KeepOwnTop(v);
  level = ProfileLevel(v, noise);
  const int32_t top = WalkToLevel(v, -1, level), bottom = WalkToLevel(v, 1, level);
  by += (top + bottom) / 2;
  peak = v.Max;
  return bottom - top;
}

// The star-profile analysis at (x, y) (fitting the star at `peak` when
// given): the fitted centre, none without a fit.
std::optional<TFloatPoint> PickedStar(int slot, int32_t x, int32_t y, const std::optional<TPeakPixel>& peak) {
  PickStar(slot, x, y, -1, MeasuredStar, TStarMode::Position, true, false, peak);
  StarAperture = std::clamp(RoundToInt((double(MeasuredStar.FullWidthX) + MeasuredStar.FullWidthY) * 0.25), 1, 5);
  if (peak && !(MeasuredStar.FullWidthX > 0 || MeasuredStar.FullWidthY > 0)) return std::nullopt;
  return TFloatPoint{float(MeasuredStar.OriginX + double(MeasuredStar.CentreX)),
                     float(MeasuredStar.OriginY + double(MeasuredStar.CentreY))};
}

// The noise level a search counts with: the caller's threshold (negative:
// the plane's noise), at least a hundredth of a level.
float StarNoise(int slot, int plane, float threshold, bool mosaic) {
  const double unit = StarLevelUnit(slot, plane);
  const float t = threshold < 0 ? StarNoiseLevel(slot, plane, mosaic) : threshold;
  const float floor = float(0.01 * unit);
  return t > floor ? t : floor;
}

// Whether the pixel and one of its eight neighbours hold the plane's largest
// value: a clipped top.
bool ClippedTop(std::span<const float> values, int32_t width, int32_t height, int32_t x, int32_t y, float top) {
  const auto at = [&](int32_t i, int32_t j) {
    return i < 0 || j < 0 || i >= width || j >= height ? BlankPixel : values[size_t(j) * size_t(width) + size_t(i)];
  };
  if (!(at(x, y) >= top)) return false;
  for (int32_t j = y - 1; j <= y + 1; ++j)
    for (int32_t i = x - 1; i <= x + 1; ++i)
      if ((i != x || j != y) && at(i, j) >= top) return true;
  return false;
}

// A neighbour of the first box's star close enough to merge with it into one
// top in worse seeing: where the first image shows one a few pixels from the
// star and this image shows none there, it is fitted there all the same, so
// that its light does not pull the star's fit.
constexpr double MergeReach = 7;

// Returns how far the star's fit may then be drawn from the merged top's peak
// (half the way to the nearest such neighbour; FitReach without one).
double AddMergedNeighbours(const TStarCandidate& star, std::span<const TFloatPoint> pattern,
                           std::span<const float> values, int32_t width, int32_t height,
                           std::vector<TStarCandidate>& stars) {
  double reach = FitReach;
  for (const TFloatPoint& d : pattern) {
    if (std::hypot(d.X, d.Y) > MergeReach) continue;
    const int32_t x = star.PeakX + RoundToInt(d.X), y = star.PeakY + RoundToInt(d.Y);
    if (x < 0 || y < 0 || x >= width || y >= height) continue;
    const float v = values[size_t(y) * size_t(width) + size_t(x)];
    const bool shown = std::any_of(stars.begin(), stars.end(), [&](const TStarCandidate& s) {
      return std::hypot(s.PeakX - x, s.PeakY - y) <= PatternMatch;
    });
    if (shown || !IsValidPixel(v)) continue;
    TStarCandidate merged;
    merged.X = merged.PeakX = x;
    merged.Y = merged.PeakY = y;
    merged.MidX = x;
    merged.MidY = y;
    merged.Window = merged.Top = v;
    merged.Ring = star.Ring;
    merged.Sigma = star.Sigma;
    merged.Star = true;
    stars.push_back(merged);
    reach = std::max(reach, 0.5 * std::hypot(d.X, d.Y) + 0.5);
  }
  return reach;
}

// What a box measured: the point, the height of its object for the quality,
// and whether it held nothing to measure.
struct TBoxMeasure {
  TFloatPoint Position;
  double Peak = 0;
  bool Nothing = true;
  int32_t Width = 5;  // the mosaic profiles' width
};

// A star box: its star, fitted among the light around it.
TBoxMeasure MeasureStarBox(int slot, int p, const TWorkRect& box, const TBrightestInRect& brightest,
                           double background, double t, int32_t aperture, const TStarSearchOptions& o) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  const std::span<const float> values = im.Plane(p);
  TBoxMeasure m{{float(brightest.BrightestX), float(brightest.BrightestY)}, brightest.BrightestValue, true};
  const bool pair = o.Reference && o.Reference->Flux > 0;
  const TStarField field(values, im.Width, im.Height, BoxFieldArea(box, pair && !o.Reference->Pattern.empty()),
                         o.IsMosaic, t);
  const std::optional<TStarCandidate> chosen = ChooseBoxStar(field, box, brightest.BrightestX, brightest.BrightestY,
                                                             background, field.Noise(), pair ? o.Reference : nullptr);
  if (!chosen) return m;
  StarPeakOutsideBox = !InBox(box, chosen->PeakX, chosen->PeakY);
  // What is no star light at its peak; other stars' light (2 widths + 1.5 px
  // around their peaks, not within 2 px of its peak; no hit's top) is not its.
  std::vector<TPixelXY> others;
  const TWorkRect peak = GrownRect({chosen->PeakX, chosen->PeakX, chosen->PeakY, chosen->PeakY}, 2);
  for (const TStarCandidate& c : field.Candidates(GrownRect(peak, 7)))
    if (c.Star && (c.PeakX != chosen->PeakX || c.PeakY != chosen->PeakY) &&
        MayBeHit(values, im.Width, im.Height, c.PeakX, c.PeakY, field.Noise()) != THitTop::Set) {
      const int32_t r = int32_t(2 * c.Sigma + 1.5);
      for (int32_t j = c.PeakY - r; j <= c.PeakY + r; ++j)
        for (int32_t i = c.PeakX - r; i <= c.PeakX + r; ++i)
          if (std::hypot(i - c.PeakX, j - c.PeakY) <= r && !InRect(peak, i, j)) others.push_back({i, j});
    }
  const TForeignPixels foreign = ForeignPixels(values, im.Width, im.Height, chosen->PeakX, chosen->PeakY, field.Noise(),
                                               im.PlaneMax[size_t(p)], o.IsMosaic, field.Hits(), others);
  // The stars around it, from a field of its own (the same whatever box held
  // it), without that light: there the star has its own peak.
  const TWorkRect near = GrownRect({chosen->PeakX, chosen->PeakX, chosen->PeakY, chosen->PeakY}, NeighbourReach);
  const TStarField around(values, im.Width, im.Height, GrownRect(near, 12), o.IsMosaic, field.Noise(), foreign);
  std::optional<TStarCandidate> own = around.CandidateAt(chosen->X, chosen->Y);
  if (!foreign.At.empty())
    if (const std::optional<TStarCandidate> climbed = around.Climb(chosen->X, chosen->Y); climbed && climbed->Star)
      own = climbed;
  const TStarCandidate& star = own ? *own : *chosen;
  // The star's own peak: its brightest pixel, or the local peak of the
  // window means that is the star (the middle of a saturated top, where the
  // brightest pixel is its first).
  const auto fromOwnPeak = [&](TFloatPoint c) {
    return std::min(std::hypot(double(c.X) - star.PeakX, double(c.Y) - star.PeakY),
                    std::hypot(double(c.X) - star.MidX, double(c.Y) - star.MidY));
  };
  std::vector<TStarCandidate> stars = around.Candidates(near);
  std::erase_if(stars, [](const TStarCandidate& c) { return !c.Star; });
  const double reach =
      pair ? AddMergedNeighbours(star, o.Reference->Pattern, values, im.Width, im.Height, stars) : FitReach;
  const TStarAmongLight fit =
      FitStarAmongLight(slot, p, star, stars, around.Noise(), o.IsMosaic, StarLevelUnit(slot, p), foreign, around.Hits());
  std::optional<TFloatPoint> centre = fit.Centre;
  if (centre)
    StarAperture = std::clamp(RoundToInt((double(MeasuredStar.FullWidthX) + MeasuredStar.FullWidthY) * 0.25), 1, 5);
  if (!o.IsMosaic) {
    // The star's height at its own peak by the box search's measure, hit
    // pixels in the window taken down.
    if (!foreign.At.empty())
      m.Peak = star.Window;
    else if (field.HitWithin(chosen->X, chosen->Y, std::max(aperture, 1)))
      m.Peak = chosen->Window;
    else
      m.Peak = chosen->X == brightest.BrightestX && chosen->Y == brightest.BrightestY
                   ? brightest.BrightestValue
                   : WindowMean(values, im.Width, im.Height, chosen->X, chosen->Y, aperture);
    // A saturated star alone: the profile analysis bounds its height by the
    // clipped peak's and leaves its centre to the few pixels of its wings; the
    // fit of a pixel-integrated Gaussian to all of its pixels, which the
    // clipping leaves symmetric about the centre, finds it.
    if (centre && fit.Alone && ClippedTop(values, im.Width, im.Height, star.PeakX, star.PeakY, im.PlaneMax[size_t(p)]))
      centre = FitMosaicStar(values, im.Width, im.Height, *centre,
                             std::sqrt(0.5 * (double(MeasuredStar.SigmaX) * MeasuredStar.SigmaX +
                                              double(MeasuredStar.SigmaY) * MeasuredStar.SigmaY)),
                             foreign.At)
                   .value_or(*centre);
  } else {
    // The height and width the profiles through the star give, as for a
    // point; a star alone has its centre from the fit that no white balance
    // of the sites moves.
    int32_t x = chosen->X, y = chosen->Y;
    m.Width = MosaicProfileSearch(slot, p, t, true, x, y, m.Peak);
    StarAperture = std::clamp((m.Width - 2) / 2, 1, 5);
    if (fit.Alone) {
      centre = FitMosaicStar(im.Planes[size_t(p)], im.Width, im.Height, {float(x), float(y)},
                             SigmaOfProfileWidth(m.Width), foreign.At);
      if (!centre) centre = TFloatPoint{float(x), float(y)};
    }
  }
  if (!centre || !(fromOwnPeak(*centre) <= reach)) return m;
  m.Position = *centre;
  m.Nothing = false;
  StarFlux = chosen->Flux;
  StarNeighbours = {slot, *centre, fit.Neighbours};
  return m;
}

}  // namespace

TStarReference ReadStarReference(int slot, TFloatPoint at, float threshold, bool isMosaic, double flux) {
  TStarReference reference;
  reference.Flux = flux;
  if (!(flux > 0) || !SlotInUse(slot) || !std::isfinite(at.X) || !std::isfinite(at.Y)) return reference;
  const TImageSlot& im = Store.Image[size_t(slot)];
  const int plane = GetRgbCode(slot);
  const TStarField field(im.Plane(plane), im.Width, im.Height, ReferenceFieldArea(at), isMosaic,
                         StarNoise(slot, plane, threshold, isMosaic));
  const bool measured = StarNeighbours.Slot == slot && StarNeighbours.Star.X == at.X && StarNeighbours.Star.Y == at.Y;
  reference.Pattern = StarPattern(field, at, measured ? std::span<const TFloatPoint>(StarNeighbours.Centres)
                                                      : std::span<const TFloatPoint>{});
  return reference;
}

void FindStarCentroid(int slot, TWorkRect rect, float threshold, int32_t aperture, const TStarSearchOptions& options) {
  StarPeakOutsideBox = false;
  StarFlux = 0;
  StarNeighbours = {};
  if (!SlotInUse(slot)) return;
  const TImageSlot& im = Store.Image[size_t(slot)];
  if (im.Width < 1 || im.Height < 1) return;
  const int p = GetRgbCode(slot);
  WorkRect = rect;
  if ((BatchRunning && BatchDiscMode) || rect.x2 - rect.x1 > 300) {
    StarPosition = MeasureDiscCentre(slot);
    return;
  }
  const float t = StarNoise(slot, p, threshold, options.IsMosaic);
  aperture = std::max(aperture, 0);

  const TBrightestInRect brightest = FindBrightestInWorkRect(slot, p, aperture);
  int32_t bx = brightest.BrightestX, by = brightest.BrightestY;
  double peak = brightest.BrightestValue;
  // A box (not a point) measures its star, or a comet's box the object its
  // brightest place belongs to; a point is searched around.
  const std::optional<TWorkRect> box = ConfiningBox(WorkRect) ? std::optional(WorkRect) : std::nullopt;
  const std::span<const float> values = im.Plane(p);
  // The background the quality counts from: the rectangle's 35 % level. An
  // object stands out of the noise of a 3 x 3 mean six times over where its
  // window is twice the noise above it.
  TPercentileLevels levels;
  GetPercentileLevels(slot, p, WorkRect.x1, WorkRect.x2, WorkRect.y1, WorkRect.y2, 35.0, 35.0, levels);
  const auto objectPeak = [&](TClimbWindow window) {
    const std::optional<TClimbedPeak> peak =
        BoxObjectPeak(values, im.Width, im.Height, *box, bx, by, window, levels.LevelA, 2.0 * t, ClimbReach);
    if (peak) StarPeakOutsideBox = !InBox(*box, peak->X, peak->Y);
    return peak;
  };
  bool nothing = false;
  int32_t width = 5;
  bool measured = false;  // the mosaic path's star was measured
  if (box && options.Rule == TBoxRule::Star) {
    const TBoxMeasure m = MeasureStarBox(slot, p, *box, brightest, levels.LevelA, t, aperture, options);
    StarPosition = m.Position;
    peak = m.Peak;
    nothing = m.Nothing;
    bx = RoundToInt(m.Position.X);
    by = RoundToInt(m.Position.Y);
    width = m.Width;
    measured = !nothing;
  } else if (!options.IsMosaic && !box) {
    StarPosition = *PickedStar(slot, bx, by, std::nullopt);
  } else if (!options.IsMosaic) {
    std::optional<TFloatPoint> star;
    if (const std::optional<TClimbedPeak> climbed = objectPeak(TClimbWindow::Mean)) {
      int32_t px = climbed->X, py = climbed->Y;
      ClimbToPeakPixel(values, im.Width, im.Height, ClimbReach, px, py);
      StarPeakOutsideBox = !InBox(*box, px, py);
      star = PickedStar(slot, px, py, TPeakPixel{px, py});
      // The object's height at its own peak, by the box search's measure.
      if (climbed->X != bx || climbed->Y != by)
        peak = WindowMean(values, im.Width, im.Height, climbed->X, climbed->Y, aperture);
    }
    nothing = !star;
    StarPosition = star.value_or(TFloatPoint{float(bx), float(by)});
  } else {
    // A star stands out when the rectangle's range exceeds four noise levels
    // (for a box: or when the light of one just outside reaches its border).
    TPercentileLevels range;
    GetPercentileLevels(slot, p, WorkRect.x1, WorkRect.x2, WorkRect.y1, WorkRect.y2, 10.0, 98.0, range);
    bool found = range.LevelB - range.LevelA > 4 * t;
    if (box) {
      const std::optional<TClimbedPeak> climbed = objectPeak(TClimbWindow::MosaicSites);
      if (climbed && climbed->Value - levels.LevelA >= 2.0 * t) found = true;
      nothing = found && !climbed;
      if (found && climbed) {
        bx = climbed->X;
        by = climbed->Y;
      }
    }
    if (found && !nothing) width = MosaicProfileSearch(slot, p, t, box.has_value(), bx, by, peak);
    StarPosition = {float(bx), float(by)};
    StarAperture = std::clamp((width - 2) / 2, 1, 5);
    // The profiles give whole pixels: the star's centre to a fraction of a
    // pixel comes from a fit that no white balance of the sites moves.
    if (found && !nothing)
      if (const auto centre =
              FitMosaicStar(im.Planes[size_t(p)], im.Width, im.Height, StarPosition, SigmaOfProfileWidth(width)))
        StarPosition = *centre;
    measured = true;
  }
  if (options.IsMosaic && measured && options.BlockMatch && SlotInUse(options.OtherSlot)) {
    // The point of this image that corresponds to the reference point, by
    // matching the star's surroundings; the star's own quality counts.
    const double half = std::max(0.9 * (width + 1), 5.0);
    const double px = options.RefPoint.X, py = options.RefPoint.Y;
    const TWorkRect block{RoundToInt(px - half), RoundToInt(px + half), RoundToInt(py - half), RoundToInt(py + half)};
    const TWorkRect search{RoundToInt(bx - half), RoundToInt(bx + half), RoundToInt(by - half), RoundToInt(by + half)};
    const TWorkRect starRect = WorkRect;
    const double saved = MatchQuality;
    const TShiftResult matched = FindShiftByCorrelation(options.OtherSlot, 2, slot, 2, block, search, 100, true, -1.0);
    MatchQuality = saved;
    WorkRect = starRect;
    StarPosition = {float(matched.Position.X + px - (block.x1 + block.x2) * 0.5),
                    float(matched.Position.Y + py - (block.y1 + block.y2) * 0.5)};
  }
  LowerMatchQuality(nothing ? 0.0 : (peak - levels.LevelA) / (6.0 * t));
}

}  // namespace astrelon

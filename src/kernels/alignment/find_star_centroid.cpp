#include "kernels/alignment/find_star_centroid.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <span>

#include "core/batch_state.h"
#include "kernels/alignment/brightest_in_work_rect.h"
#include "kernels/alignment/disc_centre.h"
#include "kernels/alignment/match_quality.h"
#include "kernels/alignment/mosaic_star_fit.h"
#include "kernels/alignment/shift_by_correlation.h"
#include "kernels/alignment/star_box.h"
#include "kernels/sampling/pixel_access.h"
#include "shell/stars/star_pick.h"
#include "store/display/display_histogram.h"
#include "store/planes/image_statistics.h"
#include "store/planes/plane_routines.h"

namespace astrelon {

TFloatPoint StarPosition;
int32_t StarAperture = 1;

namespace {

constexpr int32_t ProfileReach = 15;

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

// Along x (horizontal) or y from (x, y): offsets limited to the bounds (the
// image, or the box the star is confined to), and so are the lines beside.
TProfile MeasureProfile(int slot, int plane, int32_t x, int32_t y, bool horizontal, const TWorkRect& bounds) {
  const int32_t at = horizontal ? x : y;
  const int32_t lo = horizontal ? bounds.x1 : bounds.y1, hi = horizontal ? bounds.x2 : bounds.y2;
  const int32_t acrossLo = horizontal ? bounds.y1 : bounds.x1, acrossHi = horizontal ? bounds.y2 : bounds.x2;
  const int32_t across = horizontal ? y : x;
  TProfile p;
  p.Lo = std::max(-ProfileReach, lo - at);
  p.Hi = std::min(ProfileReach, hi - at);
  for (int32_t d = p.Lo; d <= p.Hi; ++d) {
    double sum = 0;
    int32_t n = 0;
    for (int32_t k = std::max(-1, acrossLo - across); k <= std::min(1, acrossHi - across); ++k) {
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
// Returns the star's width across the rows (5 without a star above the noise,
// `found` then false). The profiles stay within `bounds`.
int32_t MosaicProfileSearch(int slot, int plane, double noise, const TWorkRect& bounds, int32_t& bx, int32_t& by,
                            double& peak, bool& found) {
  const TWorkRect& r = WorkRect;
  TPercentileLevels levels;
  GetPercentileLevels(slot, plane, r.x1, r.x2, r.y1, r.y2, 10.0, 98.0, levels);
  found = levels.LevelB - levels.LevelA > 4 * noise;
  if (!found) return 5;
  TProfile h = MeasureProfile(slot, plane, bx, by, true, bounds);
  double level = ProfileLevel(h, noise);
  bx += (WalkToLevel(h, -1, level) + WalkToLevel(h, 1, level)) / 2;
  TProfile v = MeasureProfile(slot, plane, bx, by, false, bounds);
  level = ProfileLevel(v, noise);
  const int32_t top = WalkToLevel(v, -1, level), bottom = WalkToLevel(v, 1, level);
  by += (top + bottom) / 2;
  peak = v.Max;
  return bottom - top;
}

// The star-profile analysis at (x, y) (within the box, when given): the
// fitted centre, none without a fit.
std::optional<TFloatPoint> PickedStar(int slot, int32_t x, int32_t y, const std::optional<TWorkRect>& box) {
  PickStar(slot, x, y, -1, MeasuredStar, TStarMode::Position, true, false, box);
  StarAperture = std::clamp(RoundToInt((double(MeasuredStar.FullWidthX) + MeasuredStar.FullWidthY) * 0.25), 1, 5);
  if (box && !(MeasuredStar.FullWidthX > 0 || MeasuredStar.FullWidthY > 0)) return std::nullopt;
  return TFloatPoint{float(MeasuredStar.OriginX + double(MeasuredStar.CentreX)),
                     float(MeasuredStar.OriginY + double(MeasuredStar.CentreY))};
}

// Whether a peak of the box lies at the point or beside it: a fit that slid
// off its peak onto the flank of something outside has none there.
bool PeakAt(int slot, int plane, const TWorkRect& box, TFloatPoint point) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  const std::span<const float> v = im.Plane(plane);
  if (v.size() < im.PixelCount()) return false;
  const int32_t x = RoundToInt(point.X), y = RoundToInt(point.Y);
  for (int32_t j = std::max(box.y1, y - 1); j <= std::min(box.y2, y + 1); ++j)
    for (int32_t i = std::max(box.x1, x - 1); i <= std::min(box.x2, x + 1); ++i)
      if (IsLocalPeak(v, im.Width, im.Height, im.Width, i, j)) return true;
  return false;
}

// The star of a box, its analysis starting at (x, y). A star centred beyond
// the box's outer pixels sits on its edge, more outside than in: the box gives
// up that side and the search goes on in the rest, from its brightest place,
// while it stays a box. None when the box holds no star of its own, or the
// fit left the star's peak.
std::optional<TFloatPoint> StarInBox(int slot, int plane, TWorkRect box, int32_t aperture, int32_t x, int32_t y) {
  const TWorkRect rect = WorkRect;
  std::optional<TFloatPoint> star;
  for (int tries = 0; tries < 4 && ConfiningBox(box); ++tries) {
    if (tries > 0) {
      WorkRect = box;
      const TBrightestInRect brightest = FindBrightestInWorkRect(slot, plane, aperture);
      x = brightest.BrightestX;
      y = brightest.BrightestY;
    }
    star = PickedStar(slot, x, y, box);
    if (!star) break;
    if (OnBoxPixels(box, *star)) {
      if (!PeakAt(slot, plane, box, *star)) star.reset();
      break;
    }
    if (star->X < box.x1) ++box.x1;
    if (star->X > box.x2) --box.x2;
    if (star->Y < box.y1) ++box.y1;
    if (star->Y > box.y2) --box.y2;
    star.reset();
  }
  WorkRect = rect;
  return star;
}

}  // namespace

void FindStarCentroid(int slot, TWorkRect rect, float threshold, int32_t aperture, const TStarSearchOptions& options) {
  if (!SlotInUse(slot)) return;
  const TImageSlot& im = Store.Image[size_t(slot)];
  if (im.Width < 1 || im.Height < 1) return;
  const int p = GetRgbCode(slot);
  WorkRect = rect;
  if ((BatchRunning && BatchDiscMode) || rect.x2 - rect.x1 > 300) {
    StarPosition = MeasureDiscCentre(slot);
    return;
  }
  float t = threshold < 0 ? EstimatePlaneNoise(slot, p) : threshold;
  if (!(t > 0.01f)) t = 0.01f;

  const TBrightestInRect brightest = FindBrightestInWorkRect(slot, p, std::max(aperture, 0));
  int32_t bx = brightest.BrightestX, by = brightest.BrightestY;
  double peak = brightest.BrightestValue;
  // A box (not a point) confines the star to its pixels: a brighter object
  // beside it is never taken, and a box without a star of its own measures
  // nothing (quality 0, the position its brightest place). A point is
  // searched around.
  const std::optional<TWorkRect> box = ConfiningBox(WorkRect) ? std::optional(WorkRect) : std::nullopt;
  bool nothing = false;
  if (!options.IsMosaic && !box) {
    StarPosition = *PickedStar(slot, bx, by, std::nullopt);
  } else if (!options.IsMosaic) {
    const std::optional<TFloatPoint> star = StarInBox(slot, p, *box, std::max(aperture, 0), bx, by);
    nothing = !star;
    // The star's height is at most that of its pixel at the centre: the
    // brightest place of the box may be the flank of something outside.
    if (star) {
      StarPosition = *star;
      peak = std::min(peak, double(GetPixelValue(slot, p, RoundToInt(star->X), RoundToInt(star->Y))));
    } else {
      StarPosition = {float(bx), float(by)};
    }
  } else {
    bool found = false;
    const TWorkRect bounds = box.value_or(TWorkRect{0, im.Width - 1, 0, im.Height - 1});
    const int32_t width = MosaicProfileSearch(slot, p, t, bounds, bx, by, peak, found);
    StarPosition = {float(bx), float(by)};
    StarAperture = std::clamp((width - 2) / 2, 1, 5);
    // The profiles give whole pixels: the star's centre to a fraction of a
    // pixel comes from a fit that no white balance of the sites moves.
    if (found)
      if (const auto centre = FitMosaicStar(im.Planes[size_t(p)], im.Width, im.Height, StarPosition,
                                            SigmaOfProfileWidth(width), box))
        StarPosition = *centre;
    if (options.BlockMatch && SlotInUse(options.OtherSlot)) {
      // The point of this image that corresponds to the reference point, by
      // matching the star's surroundings; the star's own quality counts.
      const double half = std::max(0.9 * (width + 1), 5.0);
      const double px = options.RefPoint.X, py = options.RefPoint.Y;
      const TWorkRect block{RoundToInt(px - half), RoundToInt(px + half), RoundToInt(py - half), RoundToInt(py + half)};
      const TWorkRect search{RoundToInt(bx - half), RoundToInt(bx + half), RoundToInt(by - half),
                             RoundToInt(by + half)};
      const TWorkRect starRect = WorkRect;
      const double saved = MatchQuality;
      const TShiftResult found =
          FindShiftByCorrelation(options.OtherSlot, 2, slot, 2, block, search, 100, true, -1.0);
      MatchQuality = saved;
      WorkRect = starRect;
      StarPosition = {float(found.Position.X + px - (block.x1 + block.x2) * 0.5),
                      float(found.Position.Y + py - (block.y1 + block.y2) * 0.5)};
    }
  }
  TPercentileLevels levels;
  const TWorkRect& r = WorkRect;
  GetPercentileLevels(slot, p, r.x1, r.x2, r.y1, r.y2, 35.0, 35.0, levels);
  LowerMatchQuality(nothing ? 0.0 : (peak - levels.LevelA) / (6.0 * t));
}

}  // namespace astrelon

#include "kernels/alignment/stars/deblended_star_fit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <vector>

#include "kernels/alignment/stars/blend_fit.h"
#include "kernels/alignment/stars/robust_surface.h"
#include "shell/stars/star_cutout_min_max.h"
#include "shell/stars/star_pick.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// The cutout's reach around the star, and how far away another star's light
// still falls on it.
constexpr int32_t Reach = 15;
constexpr int32_t NeighbourReach = 18;
constexpr int SurfaceTerms = 10;
// Stars hidden in the shoulder of the fitted one that are looked for, and
// where: from 2.5 to 7 pixels from its centre.
constexpr int MaxHidden = 2;
constexpr double HiddenFrom = 2.5, HiddenTo = 7;
constexpr int Rounds = 3;
// How far a neighbour's fit may move from its peak in a round, and spread
// beyond its first width.
constexpr double Wander = 3, Spread = 3;
// Neighbours this close share their light with the star: fitted at once.
constexpr double BlendReach = 8;

using TGauss = TBlendStar;

// A star as its candidate shows it: at its peak pixel, its top above the
// ring, its width from the area above half its height.
TGauss FirstGuess(const TStarCandidate& s) {
  const double w = std::max(s.Sigma, 0.5) * std::numbers::sqrt2;
  return {double(s.PeakX), double(s.PeakY), std::max(s.Top - s.Ring, 0.0), w, w};
}

// A neighbour's peak pixel where its fit put it (within its cutout's reach).
void MoveTo(TStarCandidate& s, const TGauss& g) {
  const int32_t x = int32_t(std::nearbyint(std::clamp(g.X, s.PeakX - 8.0, s.PeakX + 8.0)));
  const int32_t y = int32_t(std::nearbyint(std::clamp(g.Y, s.PeakY - 8.0, s.PeakY + 8.0)));
  s.X = s.PeakX = x;
  s.Y = s.PeakY = y;
}

// A neighbour as its fit found it, for its first guess.
TStarCandidate WithModel(TStarCandidate s, const TGauss& g) {
  MoveTo(s, g);
  s.Ring = 0;
  s.Top = g.A;
  s.Sigma = g.Wx / std::numbers::sqrt2;
  return s;
}

bool Fitted(const TStarCutout& c) { return c.FullWidthX > 0 || c.FullWidthY > 0; }

TGauss ModelOf(const TStarCutout& c) {
  return {c.OriginX + double(c.CentreX), c.OriginY + double(c.CentreY), double(c.Amplitude),
          std::max(double(c.SigmaX), 0.1) * std::numbers::sqrt2, std::max(double(c.SigmaY), 0.1) * std::numbers::sqrt2};
}

// The cutout's values times `factor` and, with `measured`, the levels the
// analysis measured on them (a cutout cut anew keeps the analysis it had).
void ScaleCutout(TStarCutout& c, double factor, bool measured) {
  for (auto& plane : c.Planes)
    for (float& v : plane)
      if (IsValidPixel(v)) v = float(v * factor);
  for (float& level : c.SaturationLevel) level = float(level * factor);
  if (measured) {
    c.Background = float(c.Background * factor);
    c.Amplitude = float(c.Amplitude * factor);
    c.Flux = float(c.Flux * factor);
  }
  CutoutMinMax(c);
}

// The pixels the fits see: the plane's, the hit pixels (hot, warm, cosmic-ray
// hits and tracks) taken down to their stand-ins; on an undebayered colour
// mosaic each pixel the 1-2-1 weighted mean around it, which weighs the four
// sites alike (the star's centre stays).
class TPixelSource {
public:
  // The `hits` and `foreign` pixels by their stand-ins, non-finite values
  // left out. `unit`: one 16-bit level in the plane's units.
  TPixelSource(const TImageSlot& im, int plane, bool mosaic, int32_t cx, int32_t cy, double unit,
               const TForeignPixels& foreign, const TForeignPixels& hits)
      : im_(im), plane_(plane), mosaic_(mosaic), unit_(unit), gone_(foreign), hits_(hits) {
    constexpr int32_t Around = Reach + NeighbourReach + 3;
    for (int32_t y = std::max(cy - Around, 0); y <= std::min(cy + Around, im.Height - 1); ++y)
      for (int32_t x = std::max(cx - Around, 0); x <= std::min(cx + Around, im.Width - 1); ++x)
        if (!std::isfinite(im.At(plane, x, y)) && !gone_.Of(x, y)) {
          gone_.At.push_back({x, y});
          gone_.StandIn.push_back(BlankPixel);
        }
  }
  // Blank outside the image.
  float At(int32_t x, int32_t y) const {
    if (!mosaic_) return Own(x, y);
    double sum = 0, weights = 0;
    for (int32_t j = -1; j <= 1; ++j)
      for (int32_t i = -1; i <= 1; ++i) {
        const float v = Own(x + i, y + j);
        if (!IsValidPixel(v)) continue;
        const double w = double((i == 0 ? 2 : 1) * (j == 0 ? 2 : 1));
        sum += w * v;
        weights += w;
      }
    return IsValidPixel(Own(x, y)) && weights > 0 ? float(sum / weights) : BlankPixel;
  }
  // Whether the cutout around (cx, cy) holds the plane's pixels as they are.
  bool AsTheyAre(int32_t cx, int32_t cy) const { return !mosaic_ && NoHitPixel(cx, cy) && None(gone_.At, cx, cy); }
  // Whether no hit pixel lies in the cutout around (cx, cy).
  bool NoHitPixel(int32_t cx, int32_t cy) const { return None(hits_.At, cx, cy); }
  bool Changed() const { return mosaic_ || !hits_.At.empty() || !gone_.At.empty(); }
  // The star analysis counts its floors in 16-bit levels: the cutout it sees
  // is in levels, and what it measured is put back into the plane's units.
  double Unit() const { return unit_; }
  void ToLevels(TStarCutout& c) const {
    if (unit_ != 1.0) ScaleCutout(c, 1.0 / unit_, false);
  }
  void FromLevels(TStarCutout& c) const {
    if (unit_ != 1.0) ScaleCutout(c, unit_, true);
  }
  // Whether the plane's pixel (x, y) holds its largest value (to a level).
  bool AtTop(int32_t x, int32_t y) const {
    return im_.At(plane_, x, y) >= im_.PlaneMax[size_t(plane_)] - float(unit_);
  }

private:
  float Own(int32_t x, int32_t y) const {
    if (x < 0 || y < 0 || x >= im_.Width || y >= im_.Height) return BlankPixel;
    if (const std::optional<float> standIn = gone_.Of(x, y)) return *standIn;
    return hits_.Of(x, y).value_or(im_.At(plane_, x, y));
  }
  // Whether none of the pixels lies in the cutout around (cx, cy).
  template <class P>
  static bool None(const std::vector<P>& pixels, int32_t cx, int32_t cy) {
    return std::none_of(pixels.begin(), pixels.end(), [&](const P& p) {
      return p.X >= cx - Reach && p.X <= cx + Reach + 1 && p.Y >= cy - Reach && p.Y <= cy + Reach + 1;
    });
  }
  const TImageSlot& im_;
  int plane_;
  bool mosaic_;
  double unit_;
  TForeignPixels gone_, hits_;  // no star light: their stand-ins
};

// The smooth background around the star: a cubic surface fitted (robust) to
// the pixels of a ring just outside the star's light and away from other
// stars; relative to its value at the star. Flat when it changes by less than the noise over the star.
struct TSurface {
  int32_t Cx = 0, Cy = 0;
  TRobustSurface Fit;
  bool Flat = true;
  double At(double x, double y) const { return Fit.Rise(x - Cx, y - Cy); }
};

double ClearRadius(const TStarCandidate& s, double times) { return std::max(times * s.Sigma + 2, 4.0); }

// The ring just outside a star's light.
TSurface FitSurface(const TPixelSource& pixels, const TStarCandidate& star, std::span<const TStarCandidate> clear,
                    double noise);

// Which pixels a surface is fitted to: those from `Inner` to `Outer` pixels
// from the star, away from the stars to clear, with the Gaussians of stars
// already fitted taken off.
struct TSurfacePixels {
  double Inner, Outer;
  std::span<const TStarCandidate> Clear;
  std::span<const TGauss> TakenOff;
};

TSurface FitSurface(const TPixelSource& pixels, const TStarCandidate& star, const TSurfacePixels& which,
                    double noise) {
  TSurface s;
  s.Cx = star.PeakX;
  s.Cy = star.PeakY;
  std::vector<TSurfaceSample> points;
  const int32_t reach = int32_t(std::ceil(which.Outer));
  for (int32_t y = s.Cy - reach; y <= s.Cy + reach; ++y)
    for (int32_t x = s.Cx - reach; x <= s.Cx + reach; ++x) {
      const float v = pixels.At(x, y);
      const double r = std::hypot(x - s.Cx, y - s.Cy);
      if (!IsValidPixel(v) || r < which.Inner || r > which.Outer || pixels.AtTop(x, y)) continue;
      bool clear = true;
      for (const TStarCandidate& o : which.Clear)
        clear = clear && std::hypot(x - o.PeakX, y - o.PeakY) >= ClearRadius(o, 3);
      if (!clear) continue;
      double value = v;
      for (const TGauss& g : which.TakenOff) value -= g.At(x, y);
      points.push_back({double(x - s.Cx), double(y - s.Cy), value});
    }
  s.Fit = FitRobustSurface(points, SurfaceTerms, Reach, noise, 5, 30);
  if (!s.Fit.Complete) return TSurface{};
  // Flat where it stays within the noise over the star.
  const int32_t r = int32_t(std::ceil(2 * star.Sigma + 2));
  s.Flat = true;
  for (int32_t dy = -r; dy <= r && s.Flat; ++dy)
    for (int32_t dx = -r; dx <= r && s.Flat; ++dx)
      if (dx * dx + dy * dy <= r * r && std::fabs(s.At(s.Cx + dx, s.Cy + dy)) > noise) s.Flat = false;
  return s;
}

TSurface FitSurface(const TPixelSource& pixels, const TStarCandidate& star, std::span<const TStarCandidate> clear,
                    double noise) {
  const double inner = ClearRadius(star, 2.5);
  return FitSurface(pixels, star, {inner, std::min(std::max(inner + 5, 10.0), double(Reach)), clear, {}}, noise);
}

// Puts the pixels the fits see into the cutout and takes the surface
// (unless flat) and the stars' Gaussians off it.
void TakeOff(TStarCutout& c, const TPixelSource& pixels, const TSurface& surface, std::span<const TGauss> stars) {
  auto& values = c.Planes[size_t(c.Channel - 1)];
  for (int j = 0; j < StarCutoutSize; ++j)
    for (int i = 0; i < StarCutoutSize; ++i) {
      float& v = values[size_t(j * StarCutoutSize + i)];
      if (pixels.Changed()) v = pixels.At(c.OriginX + i, c.OriginY + j);
      if (!IsValidPixel(v)) continue;
      const double x = c.OriginX + i, y = c.OriginY + j;
      double off = surface.Flat ? 0.0 : surface.At(x, y);
      for (const TGauss& g : stars) off += g.At(x, y);
      v = float(double(v) - off);
    }
  pixels.ToLevels(c);
}

// The analysis of the star at its peak pixel, the cutout prepared.
bool Analyse(int slot, const TPixelSource& pixels, const TStarCandidate& s, const TSurface& surface,
             std::span<const TGauss> stars) {
  PickStar(slot, s.PeakX, s.PeakY, -1, MeasuredStar, TStarMode::Position, true, false, TPeakPixel{s.PeakX, s.PeakY},
           [&](TStarCutout& c) { TakeOff(c, pixels, surface, stars); });
  pixels.FromLevels(MeasuredStar);
  return Fitted(MeasuredStar);
}

// A star too close to the fitted one to make a peak of its own (a shoulder
// of it): the 3 x 3 mean of what the fits leave on the pixels (nearer the
// star than any other) that stands highest above what they leave opposite,
// when that stands out of the noise and is a tenth of the star or more. None beside a saturated star (a top
// of pixels at the plane's largest value), whose fit leaves its clipped top.
std::optional<TStarCandidate> HiddenCompanion(const TImageSlot& im, const TPixelSource& pixels,
                                              const TSurface& surface, std::span<const TGauss> others,
                                              double noise) {
  const TStarCutout& c = MeasuredStar;
  const TGauss star = ModelOf(c);
  const double level = c.Background;
  // A saturated top: more than one pixel at the plane's largest value.
  int atTop = 0;
  const int32_t cx = int32_t(std::nearbyint(star.X)), cy = int32_t(std::nearbyint(star.Y));
  constexpr int32_t R = int32_t(HiddenTo) + 2, Side = 2 * R + 1;
  std::array<double, Side * Side> left{};
  std::array<uint8_t, Side * Side> valid{};
  for (int32_t y = cy - R; y <= cy + R; ++y)
    for (int32_t x = cx - R; x <= cx + R; ++x) {
      if (x < 0 || y < 0 || x >= im.Width || y >= im.Height) continue;
      const float v = pixels.At(x, y);
      if (!IsValidPixel(v)) continue;
      if (pixels.AtTop(x, y) && ++atTop > 1) return std::nullopt;
      double model = level + (surface.Flat ? 0.0 : surface.At(x, y)) + star.At(x, y);
      for (const TGauss& g : others) model += g.At(x, y);
      const size_t i = size_t((y - cy + R) * Side + (x - cx + R));
      left[i] = double(v) - model;
      valid[i] = 1;
    }
  // The 3 x 3 mean of what is left around (dx, dy); nullopt with too few pixels.
  const auto mean = [&](int32_t dx, int32_t dy) -> std::optional<double> {
    double sum = 0;
    int n = 0;
    for (int32_t j = dy - 1; j <= dy + 1; ++j)
      for (int32_t i = dx - 1; i <= dx + 1; ++i) {
        if (std::abs(i) > R || std::abs(j) > R) continue;
        const size_t k = size_t((j + R) * Side + (i + R));
        if (valid[k]) sum += left[k], ++n;
      }
    if (n < 5) return std::nullopt;
    return sum / n;
  };
  // A hidden star leaves light on one side only; a profile that is not
  // quite a Gaussian leaves a ring: what is left opposite is taken off.
  std::optional<TStarCandidate> best;
  double bestExcess = 0;
  for (int32_t dy = -R + 1; dy <= R - 1; ++dy)
    for (int32_t dx = -R + 1; dx <= R - 1; ++dx) {
      const double r = std::hypot(cx + dx - star.X, cy + dy - star.Y);
      if (r < HiddenFrom || r > HiddenTo) continue;
      // What the fits leave nearer another star is that star's.
      bool nearer = false;
      for (const TGauss& g : others) nearer = nearer || std::hypot(cx + dx - g.X, cy + dy - g.Y) < r;
      if (nearer) continue;
      const std::optional<double> at = mean(dx, dy);
      const std::optional<double> opposite =
          mean(int32_t(std::nearbyint(2 * (star.X - cx) - dx)), int32_t(std::nearbyint(2 * (star.Y - cy) - dy)));
      if (!at || !opposite) continue;
      const double excess = *at - std::max(*opposite, 0.0);
      if (excess >= std::max(2 * noise, star.A / 10) && (!best || excess > bestExcess)) {
        bestExcess = excess;
        // Uphill on what is left to the hidden star's own top.
        int32_t tx = dx, ty = dy;
        double value = *at;
        for (bool moved = true; moved;) {
          moved = false;
          for (int32_t j = ty - 1; j <= ty + 1; ++j)
            for (int32_t i = tx - 1; i <= tx + 1; ++i) {
              const std::optional<double> m = std::abs(i) < R && std::abs(j) < R ? mean(i, j) : std::nullopt;
              if (m && *m > value) value = *m, tx = i, ty = j, moved = true;
            }
        }
        // A star has its own top near the fitted one; light that rises on
        // and on (a galaxy or nebula the surface does not follow) is none.
        if (std::hypot(cx + tx - star.X, cy + ty - star.Y) > HiddenTo + 1) continue;
        best = TStarCandidate{};
        best->X = best->PeakX = cx + tx;
        best->Y = best->PeakY = cy + ty;
        best->Window = best->Top = value;
        best->Ring = 0;
        best->Sigma = star.Wx / std::numbers::sqrt2;
        best->Star = true;
      }
    }
  return best;
}

// The star and the neighbours whose light overlaps its own fitted at once
// (the fits one by one share their light out only slowly), on a background
// that is a quadratic surface near the star where it is not flat (the
// surface of the ring around the star follows a nebula's or galaxy's light
// too coarsely to leave the star's centre in place); the other stars stay
// taken off. nullopt where neither is needed, or when the joint fit moves
// the star by more than a pixel.
std::optional<TFloatPoint> FitWithBlend(const TPixelSource& pixels, const TSurface& surface, const TGauss& star,
                                        std::span<const TGauss> neighbours, double level) {
  std::vector<TBlendStar> blend{star};
  std::vector<TGauss> fixed;
  for (const TGauss& g : neighbours)
    (std::hypot(g.X - star.X, g.Y - star.Y) <= BlendReach ? blend : fixed).push_back(g);
  if (blend.size() < 2 && surface.Flat) return std::nullopt;
  TBlendBackground background;
  background.Cx = surface.Cx;
  background.Cy = surface.Cy;
  background.Scale = Reach;
  background.Quadratic = !surface.Flat;
  background.Terms = {level, 0, 0, 0, 0, 0};
  if (!surface.Flat) std::copy(surface.Fit.K.begin() + 1, surface.Fit.K.begin() + 6, background.Terms.begin() + 1);
  const int32_t cx = int32_t(std::nearbyint(star.X)), cy = int32_t(std::nearbyint(star.Y));
  std::vector<TBlendPixel> values;
  for (int32_t y = cy - Reach; y <= cy + Reach + 1; ++y)
    for (int32_t x = cx - Reach; x <= cx + Reach + 1; ++x) {
      bool near = false;
      for (const TBlendStar& b : blend) near = near || std::hypot(x - b.X, y - b.Y) <= 1.5 * std::max(b.Wx, b.Wy) + 2;
      const float v = pixels.At(x, y);
      if (!near || !IsValidPixel(v) || pixels.AtTop(x, y)) continue;
      double off = 0;
      for (const TGauss& g : fixed) off += g.At(x, y);
      values.push_back({double(x), double(y), double(v) - off});
    }
  if (!FitBlend(values, blend, background)) return std::nullopt;
  if (!(std::hypot(blend[0].X - star.X, blend[0].Y - star.Y) <= 1)) return std::nullopt;
  return TFloatPoint{float(blend[0].X), float(blend[0].Y)};
}

}  // namespace

TStarAmongLight FitStarAmongLight(int slot, int plane, const TStarCandidate& star,
                                  std::span<const TStarCandidate> others, double noise, bool mosaic, double unit,
                                  const TForeignPixels& foreign, const TForeignPixels& hits) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  std::vector<TStarCandidate> near;
  for (const TStarCandidate& o : others)
    if ((o.PeakX != star.PeakX || o.PeakY != star.PeakY) && std::abs(o.PeakX - star.PeakX) <= NeighbourReach &&
        std::abs(o.PeakY - star.PeakY) <= NeighbourReach)
      near.push_back(o);
  const auto centre = [] {
    return TFloatPoint{float(MeasuredStar.OriginX + double(MeasuredStar.CentreX)),
                       float(MeasuredStar.OriginY + double(MeasuredStar.CentreY))};
  };
  const TPixelSource pixels(im, plane, mosaic, star.PeakX, star.PeakY, unit, foreign, hits);
  TStarAmongLight result;
  std::optional<TGauss> fitted;  // the star as the last pass fitted it
  std::optional<TFloatPoint> blend;  // its centre fitted at once with the stars it blends with
  for (int hidden = 0;; ++hidden) {
    // The star's own rings tell a flat background (the ring's surface may
    // bend to the light of a galaxy or star further out); only a background
    // that is not flat needs the ring's surface.
    TSurface surface;
    surface.Cx = star.PeakX;
    surface.Cy = star.PeakY;
    if (!star.FlatAround(noise)) surface = FitSurface(pixels, star, near, noise);
    std::vector<TGauss> models;
    if (surface.Flat && near.empty() && pixels.AsTheyAre(star.PeakX, star.PeakY)) {
      TCutoutPreparation toLevels;
      if (unit != 1.0) toLevels = [&](TStarCutout& c) { pixels.ToLevels(c); };
      PickStar(slot, star.PeakX, star.PeakY, -1, MeasuredStar, TStarMode::Position, true, false,
               TPeakPixel{star.PeakX, star.PeakY}, toLevels);
      pixels.FromLevels(MeasuredStar);
      if (!Fitted(MeasuredStar)) return result;
    } else {
      // Each neighbour fitted with the others taken off (at first as their
      // peaks and widths give them, or the star as the last pass fitted it,
      // then as fitted), then the star without its neighbours; three times,
      // each fit starting where the last one found its star.
      for (const TStarCandidate& o : near) models.push_back(FirstGuess(o));
      TGauss own = fitted.value_or(FirstGuess(star));
      for (int round = 0; round < Rounds; ++round) {
        for (size_t k = 0; k < near.size(); ++k) {
          std::vector<TGauss> others{own};
          for (size_t j = 0; j < near.size(); ++j)
            if (j != k) others.push_back(models[j]);
          std::vector<TStarCandidate> clear(near);
          clear[k] = star;
          const bool ok = Analyse(slot, pixels, near[k], FitSurface(pixels, near[k], clear, noise), others);
          // A fit that wanders off its star or spreads far beyond its width
          // found no star there: its light is left as it is.
          const TGauss fit = ModelOf(MeasuredStar);
          const bool star = ok && std::hypot(fit.X - near[k].PeakX, fit.Y - near[k].PeakY) <= Wander &&
                            std::max(fit.Wx, fit.Wy) <= Spread * std::max(FirstGuess(near[k]).Wx, 1.0);
          models[k] = star ? fit : TGauss{fit.X, fit.Y, 0, 1, 1};
          if (star) MoveTo(near[k], fit);
        }
        if (!Analyse(slot, pixels, star, surface, models)) return result;
        own = ModelOf(MeasuredStar);
      }
    }
    result.Alone = surface.Flat && near.empty() && pixels.NoHitPixel(star.PeakX, star.PeakY);
    fitted = ModelOf(MeasuredStar);
    blend = FitWithBlend(pixels, surface, *fitted, models, MeasuredStar.Background);
    result.Neighbours.clear();
    for (const TGauss& g : models)
      if (g.A > 0) result.Neighbours.push_back({float(g.X), float(g.Y)});
    // A star hidden in the shoulder is looked for on a flat sky only: the
    // light of a nebula or galaxy that the surface does not quite follow
    // would pass for one.
    if (hidden == MaxHidden || !surface.Flat) break;
    const std::optional<TStarCandidate> companion = HiddenCompanion(im, pixels, surface, models, noise);
    if (!companion) break;
    // The neighbours start again from where their fits put them.
    for (size_t k = 0; k < near.size(); ++k) near[k] = WithModel(near[k], models[k]);
    near.push_back(*companion);
  }
  result.Centre = blend.value_or(centre());
  return result;
}

}  // namespace astrelon

#pragma once
// The stars around a box, told from everything else that can make a box's
// brightest place: a star is a local peak of the 3 x 3 window means (on an
// undebayered colour mosaic weighted 1-2-1 along both axes, which weighs the
// four sites alike; a wider window would merge stars a few pixels apart) that
// stands at least four noise levels (the plane's, or its own surroundings'
// where they are noisier) above the median of a ring 4 to 7 pixels around its
// peak pixel and is compact: its height at least twice the rise of that ring
// over a ring 8 to 12 pixels out. A glow's top, a gradient, the crest of a
// nebula or of a large galaxy core rises across the rings and is no star. A
// single pixel far above all eight of its neighbours (hot, warm, a cosmic-ray
// hit) counts as its highest neighbour.
#include <array>
#include <algorithm>
#include <cmath>
#include <limits>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "kernels/alignment/float_point.h"
#include "store/image_store.h"

namespace astrelon {

struct TStarCandidate {
  int32_t X = 0, Y = 0;          // the local peak of the window means
  int32_t PeakX = 0, PeakY = 0;  // its brightest pixel
  double MidX = 0, MidY = 0;     // the middle of its top: (X, Y), or of a flat (saturated) top
  double Window = 0;             // the window mean at (X, Y)
  double Top = 0;                // the peak pixel's value (a lone pixel's taken down)
  double Ring = 0, Outer = 0;    // medians of the window means 4-7 and 8-12 pixels around the peak pixel
  bool Star = false;             // passes the star test
  // Set for stars: above the plane through the inner ring (a gradient taken
  // off), the height times the area above half of it, / ln 2, and the
  // Gaussian width that area gives; the rise per pixel of the plane through
  // the outer ring.
  double Flux = 0, Sigma = 0, Slope = 0;

  double Height() const { return Window - Ring; }
  // Whether the light under the star is flat enough for its fit: the
  // gradient of the outer ring over five pixels (the star's light) less than
  // the noise. (A crest the star stands on, alike all around it, does not
  // pull its centre.)
  bool FlatAround(double noise) const { return Slope * 5 <= noise; }
};

// Rectangles grown or tested by pixels.
constexpr TWorkRect GrownRect(const TWorkRect& r, int32_t by) { return {r.x1 - by, r.x2 + by, r.y1 - by, r.y2 + by}; }
constexpr bool InRect(const TWorkRect& r, int32_t x, int32_t y) {
  return x >= r.x1 && x <= r.x2 && y >= r.y1 && y <= r.y2;
}

// A pixel can be lone only when it stands more than four noise levels above
// the highest of its eight neighbours; this tells so at a glance away from
// the image's edges (true elsewhere).
inline bool MayBeLonePixel(std::span<const float> plane, int32_t width, int32_t height, int32_t x, int32_t y,
                           double noise) {
  if (x <= 0 || y <= 0 || x + 1 >= width || y + 1 >= height) return true;
  const float* row = plane.data() + size_t(y) * size_t(width) + size_t(x);
  const float* up = row - width;
  const float* down = row + width;
  // A blank neighbour counts as its low value, which leaves the highest
  // valid one the highest; a NaN is left to the full test.
  const auto higher = [](float n, float h) { return n > h ? n : h; };
  const float h = higher(down[1], higher(down[0], higher(down[-1], higher(row[1], higher(row[-1], higher(up[1],
                  higher(up[0], up[-1])))))));
  return !(double(*row) - h <= 4 * noise) || std::isnan(h);
}

// Pixels that hold no star light, each with what stands in for it.
struct TForeignPixels {
  std::vector<TPixelXY> At;
  std::vector<float> StandIn;
  // The stand-in of pixel (x, y) when it is one of them.
  std::optional<float> Of(int32_t x, int32_t y) const {
    const auto k = std::find(At.begin(), At.end(), TPixelXY{x, y});
    return k == At.end() ? std::nullopt : std::optional(StandIn[size_t(k - At.begin())]);
  }
};

// A lone pixel (hot, warm, a cosmic-ray hit): one that stands more than four
// noise levels above the highest of its eight neighbours and, above what the
// neighbours on either side of it make of it (the largest mean of two
// opposite neighbours), by more than half its height over the lowest pixel
// around (three quarters on a mosaic, whose sites differ); on flat
// surroundings (along its row and its column its neighbours rise above the
// pixels beyond them by less than 0.03 of its height and half a noise level,
// or by less than that beyond the rise of the lines beside it), where the
// mean of its neighbours (on a mosaic those of its own site) stands in for
// it, or on a star's light that falls short
// of it (as ForeignPixels tells), where that star stands in for it. The peak
// of a star, however narrow, has its light falling off around it. Returns
// the stand-in; none when the pixel is star light.
std::optional<float> LonePixel(std::span<const float> plane, int32_t width, int32_t height, int32_t x, int32_t y,
                               double noise, bool mosaic);

// The pixels touching a star's peak pixel (x, y) or one further (its 5 x 5)
// that are no star light: a non-finite value, or a hot pixel or cosmic-ray
// hit on the star. A pixel far above its eight neighbours, or above the star
// fitted through all of them, is one when the star fitted to the pixels
// around the peak without it (a level and a Gaussian on the 9 x 9 pixels; on
// an undebayered colour mosaic the fit that no white balance of the sites
// moves, mosaic_star_fit.h) is at least half a pixel wide, touches it and
// falls short of it by more than 0.28 of its height and five noise levels;
// the brightest are tried first, each fit without those found. A star
// centred on the pixel itself must be 0.8 pixel wide: a narrower star's fit
// without its peak tells nothing of it. A hit of two or three pixels in a
// row is found as one. Around a saturated star's clipped top (pixels at
// `top`, the plane's largest value, beside one another) only non-finite
// values. Each comes with its stand-in: what the star fitted without them
// makes of it (blank without such a fit).
TForeignPixels ForeignPixels(std::span<const float> plane, int32_t width, int32_t height, int32_t x, int32_t y,
                             double noise, float top, bool mosaic);

class TStarField {
public:
  // The pixels (lone ones and non-finite values left out, `foreign` ones by
  // their stand-ins) and window means of `area` (cut to the image) of the plane;
  // `noise` is the plane's noise level, which the field raises to the noise
  // of its own pixels where that is larger.
  TStarField(std::span<const float> plane, int32_t width, int32_t height, const TWorkRect& area, bool mosaic,
             double noise, const TForeignPixels& foreign = {});

  // Every local peak of the window means whose peak pixel lies in `within`
  // (and whose rings lie in the area as far as the image reaches), tested,
  // in row order of the peaks; of peaks a few pixels apart without a dip
  // between them deeper than the noise (the noise on one star's top) only
  // the highest.
  std::vector<TStarCandidate> Candidates(const TWorkRect& within) const;
  // The candidate of the local peak at (x, y); nullopt when it is none.
  std::optional<TStarCandidate> CandidateAt(int32_t x, int32_t y) const;
  // The window mean at (x, y) of the area; nullopt outside it or without a
  // valid pixel.
  std::optional<double> Mean(int32_t x, int32_t y) const;
  // From (x, y) to the neighbouring window mean (of the eight) that is
  // largest while it is larger, within the area; the local peak reached.
  std::optional<TStarCandidate> Climb(int32_t x, int32_t y) const;

  const TWorkRect& Area() const { return area_; }
  double Noise() const { return noise_; }
  // Whether a lone pixel was taken down within r pixels of (x, y).
  bool LoneWithin(int32_t x, int32_t y, int32_t r) const;

private:
  bool LocalPeak(int32_t x, int32_t y) const;
  TStarCandidate Test(int32_t x, int32_t y) const;
  double M(int32_t x, int32_t y) const { return means_[Index(area_, x, y)]; }
  float D(int32_t x, int32_t y) const { return pixels_[Index(outer_, x, y)]; }
  static size_t Index(const TWorkRect& r, int32_t x, int32_t y) {
    return size_t(y - r.y1) * size_t(r.x2 - r.x1 + 1) + size_t(x - r.x1);
  }

  TWorkRect area_;   // where the means are
  TWorkRect outer_;  // where the pixels are: the area grown by the window's radius
  bool mosaic_;
  double noise_;
  std::vector<float> pixels_;  // lone pixels taken down; blank where invalid
  std::vector<uint8_t> lone_;  // where a lone pixel was taken down
  std::vector<double> means_;  // window means; NaN without a valid pixel
};

}  // namespace astrelon

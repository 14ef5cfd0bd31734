#pragma once
// The stars around a box, told from everything else that can make a box's
// brightest place: a star is a local peak of the 3 x 3 window means (on an
// undebayered colour mosaic weighted 1-2-1 along both axes, which weighs the
// four sites alike; a wider window would merge stars a few pixels apart) that
// stands at least four noise levels (the plane's, or its own surroundings'
// where they are noisier) above the median of a ring 4 to 7 pixels around its
// peak pixel and is compact: its height at least twice the rise of that ring
// over a ring 8 to 12 pixels out. A glow's top, a gradient, the crest of a
// nebula or of a large galaxy core rises across the rings and is no star.
// Hit pixels (hot and warm pixels, cosmic-ray hits and tracks, warm columns:
// hit_pixels.h) count as their stand-ins.
#include <array>
#include <algorithm>
#include <cmath>
#include <limits>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "kernels/alignment/float_point.h"
#include "kernels/alignment/stars/hit_pixels.h"
#include "store/image_store.h"

namespace astrelon {

struct TStarCandidate {
  int32_t X = 0, Y = 0;          // the local peak of the window means
  int32_t PeakX = 0, PeakY = 0;  // its brightest pixel
  double MidX = 0, MidY = 0;     // the middle of its top: (X, Y), or of a flat (saturated) top
  double Window = 0;             // the window mean at (X, Y)
  double Top = 0;                // the peak pixel's value (a hit's taken down)
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

class TStarField {
public:
  // The pixels (hit pixels by their stand-ins, non-finite values left out,
  // `foreign` ones by their stand-ins) and window means of `area` (cut to the
  // image) of the plane;
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
  // Whether a hit pixel was taken down within r pixels of (x, y).
  bool HitWithin(int32_t x, int32_t y, int32_t r) const;
  // The hit pixels the field found (not the `foreign` ones it was given).
  const TForeignPixels& Hits() const { return hits_; }

private:
  bool LocalPeak(int32_t x, int32_t y) const;
  TStarCandidate Test(int32_t x, int32_t y) const;
  TStarCandidate TestAnew(int32_t x, int32_t y) const;
  double M(int32_t x, int32_t y) const { return means_[Index(area_, x, y)]; }
  float D(int32_t x, int32_t y) const { return pixels_[Index(outer_, x, y)]; }
  static size_t Index(const TWorkRect& r, int32_t x, int32_t y) {
    return size_t(y - r.y1) * size_t(r.x2 - r.x1 + 1) + size_t(x - r.x1);
  }

  TWorkRect area_;   // where the means are
  TWorkRect outer_;  // where the pixels are: the area grown by the window's radius
  bool mosaic_;
  double noise_;
  std::vector<float> pixels_;  // hit pixels taken down; blank where invalid
  std::vector<uint8_t> hit_;   // where a hit or foreign pixel was taken down
  TForeignPixels hits_;
  std::vector<double> means_;  // window means; NaN without a valid pixel
  mutable std::vector<int32_t> tested_;  // per place of the area: its candidate's index, or -1
  mutable std::vector<TStarCandidate> candidates_;
};

}  // namespace astrelon

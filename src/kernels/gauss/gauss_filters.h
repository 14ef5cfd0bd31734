#pragma once
// The Gauss filter family: three blank-aware smoothing kernels over a rectangle
// of one plane or of every plane of a slot, each run as a pass down the columns
// and then a pass along the rows (progress 0-50 % and 50-100 %).
//
//  - fGauss: recursive Gaussian (Young and van Vliet, third order, forward and
//    backward) at a constant cost per pixel whatever the radius, mixed with the
//    source by a strength in percent. Blanks inside a line are bridged with the
//    latest valid value and written back blank.
//  - Gauss: direct convolution with a tabulated Gaussian, normalised by the
//    weights of the valid pixels it covers (the column pass also fills blank
//    pixels that have valid neighbours).
//  - sGauss: selective Gaussian: only neighbours closer in value to the centre
//    than a threshold take part, so edges stay sharp; blank pixels stay blank.
//
// Common rules: a pixel is blank at or below -1e9 (NaN too) and never enters a
// sum; source and destination may be the same slot; pixels outside the
// rectangle and planes not filtered are not written; a destination plane whose
// length differs from the source plane's is resized first. Each line is computed
// the same way whatever the split over threads, and the vector paths give the
// bits of the scalar ones. The slot routines return nothing: a run stopped by the
// abort flag (or, with the dialog's poll, by a newer preview) leaves the
// destination partly filtered.
#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "kernels/gauss/filter_poll.h"
#include "store/image_store.h"

namespace astrelon {

// ---- fGauss ----

// Coefficients of the recursion for a radius (radii below 0.5 count as 0.5,
// where q would turn negative): sigma = radius / 1.49, q, b0..b3 and B, and the
// number of values (n + 1) whose mean starts a line.
struct TRecursiveGaussCoefficients {
  double Sigma = 0, Q = 0;
  double B0 = 0, B1 = 0, B2 = 0, B3 = 0, B = 0;
  int32_t InitialCount = 1;
};
TRecursiveGaussCoefficients RecursiveGaussCoefficients(float radius);

// fGauss of `source` into `destination` inside x1..x2, y1..y2 (clipped to the
// image) of plane `plane` (p <= 0: every plane). Strength 0..100 % (clamped)
// mixes the blur with the source at valid pixels. With `showProgress` the
// window of `progressSlot` shows "fGauss" + label. `poll` (optional) adds its
// stop conditions (the preview generation) to the abort flag.
void fGauss(int source, int destination, int plane, int32_t x1, int32_t x2, int32_t y1, int32_t y2, float radius,
            bool showProgress, int progressSlot, int32_t strength, const std::string& label,
            TFilterPoll* poll = nullptr);

// ---- Gauss and sGauss ----

// Weights w(i) = e^(-(i/radius)^2), i = 0..255 (0 where i/radius > 100).
using TGaussWeights = std::array<float, 256>;
TGaussWeights GaussWeightTable(float radius);
// Half window of Gauss: the first i with w(i) < 0.01; 0 when there is none
// (radius 118.8 and more), which leaves the image as it is.
int32_t GaussHalfWindow(const TGaussWeights& w);
// Half window of sGauss: the first i with w(i) < 0.02, minus 1, at least 1.
int32_t SelectiveGaussHalfWindow(const TGaussWeights& w);

// Gauss of `source` into `destination`; progress text "Gauss" + label.
void Gauss(int source, int destination, int plane, int32_t x1, int32_t x2, int32_t y1, int32_t y2, float radius,
           bool showProgress, int progressSlot, const std::string& label, TFilterPoll* poll = nullptr);

// sGauss of `source` into `destination`: neighbours v count when |v - c| <
// threshold (image units), c the centre value of the pass; progress text "sGauss".
void sGauss(int source, int destination, int plane, int32_t x1, int32_t x2, int32_t y1, int32_t y2, float radius,
            float threshold, bool showProgress, int progressSlot, TFilterPoll* poll = nullptr);

// ---- one plane (the slot routines call these; tests and benchmarks too) ----

struct TGaussPlane {
  std::span<const float> Source;  // Width x Height values
  std::span<float> Destination;   // the same size; may be the source itself
  int32_t Width = 0, Height = 0;
  TWorkRect Rect;                 // inclusive, inside the plane
};

// How the passes of one plane run: `Vector` takes the SSE2 (or AVX2) loops,
// which give the bits of the scalar ones; between chunks of lines the poll (when
// given) shows the percentage for plane `PlaneIndex` and may stop the run, and
// the routine then returns false.
struct TGaussPlaneRun {
  bool Vector = true;
  TFilterPoll* Poll = nullptr;
  int PlaneIndex = 1;
};
// Whether the plane's rectangle lies inside it (throws when a span is shorter
// than the plane).
bool GaussPlaneUsable(const TGaussPlane& plane);

bool RecursiveGaussPlane(const TGaussPlane& plane, float radius, int32_t strength, const TGaussPlaneRun& run);
bool GaussPlane(const TGaussPlane& plane, float radius, const TGaussPlaneRun& run);
bool SelectiveGaussPlane(const TGaussPlane& plane, float radius, float threshold, const TGaussPlaneRun& run);

}  // namespace astrelon

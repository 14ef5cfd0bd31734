#pragma once
// The automatic flat fit: a quadratic response of the flat and a brightness
// gradient chosen so that the histogram of the image divided by the flat gets
// the highest (and so the narrowest) peak. This makes up for a flat taken at
// another brightness or with stray light.
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace astrelon {

// The flat's response g = C1 f² + C0 f + C2 of a normalised flat value f = F / L,
// and the gradient amounts.
struct TFlatResponse {
  double C0 = 1, C1 = 0, C2 = 0, Gx = 0, Gy = 0;
  double Gain(double f) const { return C1 * f * f + C0 * f + C2; }
};

// What the gradient and the histogram are measured against.
struct TFlatFrame {
  double Width = 1, Height = 1;  // the flat's size
  double Unit = 0;               // gradient unit R: 2 % of the source's value range
  double ValueRange = 0;         // source maximum - minimum
  int32_t Bins = 0;              // histogram bins
  // The gradient term of a pixel: (H/2 - y)(-R gy / H) + (W/2 - x)(-R gx / W).
};

// One sampled pixel: position, source value and normalised flat value F / L.
struct TFlatSample {
  int32_t X = 0, Y = 0;
  float Source = 0;
  double Flat = 0;
};

// The peak of a histogram: its highest count and, when the highest bin b
// (the first of equals) lies in 2 .. bins - 3, the histogram interpolated with
// the bicubic kernel table at b - 0.5, b - 0.45, …, b + 0.5, whichever is largest.
double HistogramPeak(std::span<const int32_t> histogram);

// The samples by column, as the histogram reads them: S, F / L and the
// gradient's distances H/2 - y and W/2 - x.
struct TFlatSampleColumns {
  TFlatSampleColumns(std::span<const TFlatSample> samples, const TFlatFrame& frame);
  std::vector<double> Source, Flat, Dy, Dx;
};

// The histogram of the samples divided by the response (bin of
// (S / g + gradient) x bins x (C0 + C1 + C2) / (0.01 + value range), samples
// with g <= 0.1 or outside 0 < value < bins left out) and its peak. `vector`
// computes four samples at a time in double lanes where the processor has it,
// with the scalar loop's operations in its order: the same histogram.
double FlatHistogramPeak(const TFlatSampleColumns& samples, const TFlatResponse& r, const TFlatFrame& frame,
                         std::vector<int32_t>& histogram, bool vector);

// Coordinate search for the largest peak over (C0, C1, C2, Gx, Gy) with steps
// 0.1, 0.1, 0.1, 1, 1, visiting Gx, Gy, C0, C1, C2 in turn until the step of C0
// is below 0.01. `peak` measures a parameter set.
TFlatResponse SearchFlatResponse(const std::function<double(const TFlatResponse&)>& peak);

// The search on the samples.
TFlatResponse FitFlatResponse(std::span<const TFlatSample> samples, const TFlatFrame& frame, bool vector);

}  // namespace astrelon

#pragma once
// The pixel values along a line of an image and the scale arithmetic of their
// diagram: the samples, the steps of the value and position axes, the y of a
// value and the texts written above the points.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "store/image_store.h"

namespace astrelon {

struct TLineSamples {
  std::array<std::vector<float>, 3> Planes;  // planes 1..3 (index 0..2), Count + 1 values each
  int32_t PlaneCount = 0;
  std::vector<int32_t> Minor;  // the rounded coordinate across the line, per sample
  int32_t Start = 0;           // major coordinate of sample 0
  int32_t Count = 0;           // n: the samples are 0..n
  bool Horizontal = true;      // the line runs mostly along x ("X"), else along y ("Y")
  float SampleMin = 1e18f;     // range of the valid samples
  double SampleMax = -1e18;
  int32_t ColorModel = 0;  // of the slot when sampled
  bool Valid() const { return SampleMax >= SampleMin; }
  // Image point of sample i.
  TPointI Point(int32_t i) const;
};

// Samples the slot's planes from p1 to p2 along the longer axis. Empty (PlaneCount
// 0) when the slot holds no image or an end point lies outside it. A one-pixel
// line gives one sample.
TLineSamples SampleLine(int slot, TPointI p1, TPointI p2);

// Major and minor step of an axis: the first of 1, 2, 5 x 10^m (m from
// firstPower upward) that reaches raw; minor = major x 0.2 after a 5, else x 0.1.
struct TAxisSteps {
  double Major = 1, Minor = 0.1;
};
TAxisSteps AxisSteps(double raw, int firstPower);
// Value ticks for a plot of height P over range: k = P / 22 (at least 1; above 3,
// P / 28) steps.
TAxisSteps ValueAxisSteps(int32_t plotHeight, double range);
// Position ticks for a plot width W and labels `labelWidth` wide (minor at least 1).
TAxisSteps PositionAxisSteps(int32_t plotWidth, int32_t labelWidth, int32_t count);

// The axis range: SampleMin..SampleMax, or ±1 around a flat sample set.
struct TValueRange {
  double Low = 0, High = 1;
};
TValueRange DiagramRange(const TLineSamples& s);
// Row of value v on a diagram client of height H (without the status bar).
int32_t ValueToY(double v, const TValueRange& range, int32_t clientHeight);

// The text written above a point: D = W / n / 7 rounded (at least 5; 5 for a
// one-pixel line) significant digits, D - 2 decimals, "," as decimal point, ".."
// appended when the text does not give the value exactly.
int32_t PointTextDigits(int32_t plotWidth, int32_t count);
std::string PointValueText(float v, int32_t digits);

}  // namespace astrelon

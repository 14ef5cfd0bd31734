#include "shell/statistics/line_profile.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "common/pascal_format.h"

namespace astrelon {

TPointI TLineSamples::Point(int32_t i) const {
  const int32_t minor = Minor.empty() ? 0 : Minor[size_t(std::clamp<int32_t>(i, 0, int32_t(Minor.size()) - 1))];
  return Horizontal ? TPointI{Start + i, minor} : TPointI{minor, Start + i};
}

TLineSamples SampleLine(int slot, TPointI p1, TPointI p2) {
  TLineSamples s;
  if (!SlotInUse(slot)) return s;
  const TImageSlot& im = Store.Image[size_t(slot)];
  auto inside = [&](TPointI p) { return p.X >= 0 && p.Y >= 0 && p.X < im.Width && p.Y < im.Height; };
  if (!inside(p1) || !inside(p2)) return s;
  const int32_t dx = std::abs(p2.X - p1.X), dy = std::abs(p2.Y - p1.Y);
  s.Horizontal = dx >= dy;
  s.Count = s.Horizontal ? dx : dy;
  auto major = [&](TPointI p) { return s.Horizontal ? p.X : p.Y; };
  auto minor = [&](TPointI p) { return s.Horizontal ? p.Y : p.X; };
  // Point 2 holds the smaller major coordinate.
  if (major(p1) < major(p2)) std::swap(p1, p2);
  s.Start = major(p2);
  s.ColorModel = im.ColorModel;
  s.PlaneCount = std::clamp(im.PlaneCount, 1, 3);
  const size_t n1 = size_t(s.Count) + 1;
  for (int p = 0; p < s.PlaneCount; ++p) s.Planes[size_t(p)].resize(n1);
  s.Minor.resize(n1);
  const double slope = s.Count > 0 ? double(minor(p1) - minor(p2)) / s.Count : 0.0;
  for (int32_t i = 0; i <= s.Count; ++i) {
    const int32_t m = minor(p2) + int32_t(std::nearbyint(i * slope));
    s.Minor[size_t(i)] = m;
    const TPointI at = s.Horizontal ? TPointI{s.Start + i, m} : TPointI{m, s.Start + i};
    for (int p = 0; p < s.PlaneCount; ++p) {
      const TPlane& plane = im.Planes[size_t(p + 1)];
      const float v = plane.size() >= im.PixelCount() ? im.At(p + 1, at.X, at.Y) : BlankPixel;
      s.Planes[size_t(p)][size_t(i)] = v;
      if (v >= s.SampleMax) s.SampleMax = v;
      if (v < s.SampleMin && v > -1e9f) s.SampleMin = v;
    }
  }
  return s;
}

TAxisSteps AxisSteps(double raw, int firstPower) {
  for (int m = firstPower; m < 40; ++m) {
    const double scale = std::pow(10.0, m);
    for (double f : {1.0, 2.0, 5.0})
      if (f * scale >= raw) return {f * scale, f * scale * (f == 5.0 ? 0.2 : 0.1)};
  }
  return {1e40, 1e39};
}

TAxisSteps ValueAxisSteps(int32_t plotHeight, double range) {
  int32_t k = std::max(plotHeight / 22, 1);
  if (k > 3) k = plotHeight / 28;
  return AxisSteps(range / k, -7);
}

TAxisSteps PositionAxisSteps(int32_t plotWidth, int32_t labelWidth, int32_t count) {
  int32_t k = std::max(plotWidth / std::max(labelWidth, 1), 1);
  if (k > 3) k = plotWidth / (labelWidth + 10);
  TAxisSteps steps = AxisSteps(double(count) / std::max(k, 1), 0);
  steps.Minor = std::max(steps.Minor, 1.0);
  return steps;
}

TValueRange DiagramRange(const TLineSamples& s) {
  if (s.SampleMax > s.SampleMin) return {s.SampleMin, s.SampleMax};
  return {s.SampleMin - 1.0, s.SampleMin + 1.0};
}

int32_t ValueToY(double v, const TValueRange& range, int32_t clientHeight) {
  const double span = range.High - range.Low;
  const int32_t base = clientHeight - 24;
  if (!(span > 0)) return base;
  const double y = base - (v - range.Low) * (clientHeight - 35) / span;
  return int32_t(std::nearbyint(std::clamp(y, -1e6, 1e6)));
}

int32_t PointTextDigits(int32_t plotWidth, int32_t count) {
  if (count <= 0) return 5;
  return std::max(int32_t(std::nearbyint(double(plotWidth) / count / 7.0)), 5);
}

std::string PointValueText(float v, int32_t digits) {
  std::string text = FloatToStrF(v, TFloatFormat::Fixed, digits, digits - 2);
  const auto back = TryStrToFloat(text);
  std::replace(text.begin(), text.end(), '.', ',');
  if (!back || float(*back) != v) text += "..";
  return text;
}

}  // namespace astrelon

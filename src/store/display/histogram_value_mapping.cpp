// The histogram window's value axis, linear or square-root, over the display
// range or over black..white.
#include "store/display/histogram_value_mapping.h"

#include <algorithm>
#include <cmath>

#include "store/image_store.h"

namespace astrelon {

namespace {

THistogramXToValueFn XToValue = nullptr;
constexpr double DefaultHistogramWidth = 290.0;

// a / b, 0 where the axis has no extent.
double Ratio(double a, double b) { return b != 0 && std::isfinite(b) ? a / b : 0.0; }

struct TAxisEnds {
  double Lo, Hi;
};
TAxisEnds EndsOf(const TDisplayRecord& d, const TFrozenHistogramAxis& a) {
  if (d.SpanBlackWhite) return {a.Black, a.White};
  return {a.RangeLow, a.RangeHigh};
}

}  // namespace

double HistogramXToValueAt(const TDisplayRecord& d, const TFrozenHistogramAxis& a, double x, double width) {
  if (std::isnan(x)) x = 0;
  const double xc = std::clamp(x, -200.0, width + 200.0);
  const auto [lo, hi] = EndsOf(d, a);
  if (!d.SqrtHistogram || !(xc > 0)) return lo + (hi - lo) * Ratio(xc, width);
  const double r = Ratio(xc, width);
  if (!d.SpanBlackWhite) return r * r * (double(a.RangeHigh) - a.RangeLow) + a.RangeLow;
  auto s = [&](double v) { return std::sqrt(std::max(0.0, v - a.RangeLow)); };
  const double q = (s(a.White) - s(a.Black)) * r + s(a.Black);
  return q * q + a.RangeLow;
}

double ValueToHistogramXAt(const TDisplayRecord& d, const TFrozenHistogramAxis& a, double v, double width) {
  const auto [lo, hi] = EndsOf(d, a);
  if (d.SqrtHistogram && v >= lo) {
    if (!d.SpanBlackWhite) return std::sqrt(std::max(0.0, Ratio(v - a.RangeLow, double(a.RangeHigh) - a.RangeLow))) * width;
    auto s = [&](double u) { return std::sqrt(std::max(0.0, u - a.RangeLow)); };
    return Ratio(s(v) - s(a.Black), s(a.White) - s(a.Black)) * width;
  }
  return Ratio(v - lo, hi - lo) * width;
}

void SetHistogramXToValue(THistogramXToValueFn fn) { XToValue = fn; }

double FrozenHistogramXToValue(int slot, const TFrozenHistogramAxis& axis, float x) {
  return (XToValue ? XToValue : DefaultHistogramXToValue)(slot, axis, x);
}

double DefaultHistogramXToValue(int slot, const TFrozenHistogramAxis& a, float x) {
  if (slot < 1 || slot > MaxImageSlots) return 0.0;
  return HistogramXToValueAt(Store.Display[slot], a, x, DefaultHistogramWidth);
}

}  // namespace astrelon

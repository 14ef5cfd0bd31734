#pragma once
// The histogram window's value axis: a horizontal position of its histogram
// area and the image value shown there, for an axis that the caller freezes.
// The histogram window installs its own mapping (its real width); until then a
// default with the window's initial width of 290 pixels stands in.
#include "store/display/display_record.h"

namespace astrelon {

struct TFrozenHistogramAxis {
  float Black = 0;
  float White = 1;
  float RangeLow = 0;
  float RangeHigh = 1;
};

// The axis values of a record as they stand.
inline TFrozenHistogramAxis AxisOf(const TDisplayRecord& d) { return {d.Black, d.White, d.RangeLow, d.RangeHigh}; }

// The mapping for an area `width` pixels wide. The axis runs over Black..White
// of `axis` when the record's SpanBlackWhite is set, else over RangeLow..RangeHigh;
// SqrtHistogram makes it a square-root axis above its start (below it the linear
// formula continues). Positions are clamped to -200 .. width + 200 first.
double HistogramXToValueAt(const TDisplayRecord& d, const TFrozenHistogramAxis& axis, double x, double width);
double ValueToHistogramXAt(const TDisplayRecord& d, const TFrozenHistogramAxis& axis, double v, double width);

// Value at position x (pixels of the histogram area) of slot's histogram,
// using the frozen axis instead of the record's black, white and range.
using THistogramXToValueFn = double (*)(int slot, const TFrozenHistogramAxis& axis, float x);

// nullptr restores the default.
void SetHistogramXToValue(THistogramXToValueFn fn);
double FrozenHistogramXToValue(int slot, const TFrozenHistogramAxis& axis, float x);

// The default: the window's mapping for an area 290 pixels wide.
double DefaultHistogramXToValue(int slot, const TFrozenHistogramAxis& axis, float x);

}  // namespace astrelon

#pragma once
// The histogram window's value at a horizontal position of its histogram area,
// for an axis that the caller freezes. The histogram window installs its own
// mapping; until then a default with the window's initial width of 290 pixels
// stands in.
namespace astrelon {

struct TFrozenHistogramAxis {
  float Black = 0;
  float White = 1;
  float RangeLow = 0;
  float RangeHigh = 1;
};

// Value at position x (pixels of the histogram area) of slot's histogram,
// using the frozen axis instead of the record's black, white and range.
using THistogramXToValueFn = double (*)(int slot, const TFrozenHistogramAxis& axis, float x);

// nullptr restores the default.
void SetHistogramXToValue(THistogramXToValueFn fn);
double FrozenHistogramXToValue(int slot, const TFrozenHistogramAxis& axis, float x);

// The default: the window's mapping for an area 290 pixels wide.
double DefaultHistogramXToValue(int slot, const TFrozenHistogramAxis& axis, float x);

}  // namespace astrelon

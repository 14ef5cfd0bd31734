// Display-record presets: the straight curve and the axis fitted to a white level.
#include "store/display/histogram_range.h"

#include "store/image_store.h"

namespace astrelon {

void ResetCurvePoints(int slot) {
  if (slot < 0 || slot >= SlotArraySize) return;
  TDisplayRecord& d = Store.Display[slot];
  const double step = (double(d.White) - double(d.Black)) / 6;
  for (int k = 1; k <= 5; ++k) d.CurvePoints[size_t(k)] = {float(d.Black + k * step), float(k / 6.0)};
  d.CurvePoints[0] = {d.Black, 0.0f};
  d.CurvePoints[6] = {d.White, 1.0f};
}

bool FitHistogramRange(int slot, float m) {
  if (slot < 0 || slot >= SlotArraySize) return false;
  TDisplayRecord& d = Store.Display[slot];
  const TImageSlot& im = Store.Image[slot];
  const float oldLow = d.RangeLow, oldHigh = d.RangeHigh;
  if (im.MinValue < 0) {
    if (d.RangeLow < im.MinValue) d.RangeLow = im.MinValue;
  } else {
    d.RangeLow = 0;
  }
  if (m < im.MaxValue) {
    if (d.RangeHigh > im.MaxValue) d.RangeHigh = im.MaxValue;
  } else {
    d.RangeHigh = m;
  }
  if (d.RangeHigh < m) d.RangeHigh = m;
  if (d.RangeLow > 0) d.RangeLow = 0;
  return d.SpanBlackWhite || d.RangeLow != oldLow || d.RangeHigh != oldHigh;
}

}  // namespace astrelon

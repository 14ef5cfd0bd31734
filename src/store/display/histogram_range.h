#pragma once
// Display-record presets shared by the histogram window and the display stretch.
namespace astrelon {

// Curve points back to the straight line from black to white: point k (1..5) at
// (Black + k * step, k / 6) with step = (White - Black) / 6.
void ResetCurvePoints(int slot);

// Fits the histogram axis to the image for a new white level m (255, 4095, 65535,
// ...): RangeLow to the image minimum when that is negative (else 0), RangeHigh to
// the image maximum when m is below it (else m), never below m. True when the axis
// changed (always with SpanBlackWhite); the caller recomputes the histogram then.
bool FitHistogramRange(int slot, float m);

}  // namespace astrelon

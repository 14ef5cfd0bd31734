#pragma once
// Value arithmetic on the working rectangle of a slot: adding and multiplying
// per plane, clamping from below or above, square root, square, rounding and
// moving values toward 0. Blank pixels (at or below -1e9, or NaN) stay as they
// are. The menu commands and the batch call these with explicit slots.
namespace astrelon {

// Plane p (1 .. plane count) gets a_p added at every valid pixel of the working
// rectangle, summed in double and stored as float; the channel selection is not
// consulted.
void AddValuesToRect(int slot, float a1, float a2, float a3);
// Plane p is multiplied by f_p, first limited to -1e8 .. 1e8, at every valid
// pixel of the working rectangle; the channel selection is not consulted.
void MultiplyRectByValues(int slot, double f1, double f2, double f3);

// On the selected channels inside the working rectangle: every valid pixel
// below v becomes v, or every valid pixel above v becomes v.
void ClampValuesBelow(int slot, float v);
void ClampValuesAbove(int slot, float v);

// On the selected channels (every plane with `everyPlane`) inside the working
// rectangle: v > 0 becomes sqrt(v); other valid values become 0, or stay with
// `keepNonPositive` (the batch's "Wurzel aus Pixelwerte ziehen").
void TakeSquareRoot(int slot, bool everyPlane = false, bool keepNonPositive = false);
// On the selected channels (every plane with `everyPlane`) inside the working
// rectangle: v becomes v * v.
void SquareValues(int slot, bool everyPlane = false);
// Every plane inside the working rectangle: v becomes the nearest integer,
// halves to the even neighbour.
void RoundValues(int slot);
// Every plane, the whole image: v >= 0 becomes max(v - a, 0), v < 0 becomes
// min(v + a, 0).
void MoveValuesTowardZero(int slot, float a);

}  // namespace astrelon

#pragma once
// Reference point pairs from the marks and selections that the user placed in
// two image windows: point 1 (and 2) of the reference image and the same
// point(s) of the second image.
#include <cstdint>

namespace astrelon {

struct TAlignPoints {
  float A1x = 0, A1y = 0, A2x = 100, A2y = 100;  // reference image
  float B1x = 0, B1y = 0, B2x = 100, B2y = 100;  // second image
  // 0 no pair, 1 one pair (shift), 2 two pairs (shift, rotation, scale); more
  // only from the batch's multi-star fit.
  int32_t count = 0;
};

// refSlot is the reference (active) image, secondSlot the image to align.
// A mark gives its position; a selection is measured: by the star centroid
// (shift-method switch 0), block matching (switch 1) or, wide or in the batch's
// disc mode, the bright disc. Missing marks end the collection with the pairs
// found so far; nothing is collected unless both slots have windows.
// isMosaic is passed to every measurement, scale to DetermineShift.
TAlignPoints GetAlignmentPoints(int refSlot, int secondSlot, bool isMosaic, double scale);

}  // namespace astrelon

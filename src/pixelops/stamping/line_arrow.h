#pragma once
// Arrows stamped into an image: a smooth shaft and a filled head, drawn at twice
// the size into a coverage mask and merged in the text colour.
#include <cstdint>

#include "pixelops/stamping/stamp_bitmap.h"
#include "pixelops/stamping/stamp_mask.h"

namespace astrelon {

// The arrow's mask at twice the image scale and the image point of its top left corner.
struct TArrowMask {
  TByteMask Mask;
  int32_t Left = 0, Top = 0;
};

// The mask of the arrow from the tail (x0, y0) to the tip (x1, y1); an empty
// mask when the arrow is 5 pixels long or shorter. The box is cut to an image of
// clipW x clipH pixels (when given), since ink outside the image is dropped anyway.
TArrowMask MakeArrowMask(int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t clipW = 0, int32_t clipH = 0);

// Stamps the arrow into the slot (one undo step); nothing for a short arrow.
void DrawLineArrow(int slot, int32_t x0, int32_t y0, int32_t x1, int32_t y1, const TStampInk& ink);

}  // namespace astrelon

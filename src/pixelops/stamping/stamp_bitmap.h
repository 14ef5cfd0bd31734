#pragma once
// Merging an 8-bit coverage mask into a slot's planes in the text colour: block
// reduction of a mask drawn at a larger scale, an optional raised (3D) shading,
// a drop shadow and transparency; one undo step per stamp.
#include <cstdint>

#include "pixelops/stamping/stamp_mask.h"

namespace astrelon {

// What the text and arrow tools stamp with.
struct TStampInk {
  int32_t Colour = 0xFFFFFF;  // Windows colour value: red in the low byte; the fourth byte is ignored
  int32_t FontSize = 10;      // points; the shading and the shadow scale with it
  bool Bold = false;
};

// The ink, font size and weight of the text tool's settings.
TStampInk TextToolInk();

// Merges the mask (its size / scale in image pixels) with its top left corner at
// image point (x, y) into the slot: `factor` is the opacity (1 - percent / 100)
// used by the transparency and the shadow. Parts outside the image are dropped;
// the rows touched are saved for undo first, and the slot is marked changed.
void StampBitmapIntoImage(int slot, int32_t x, int32_t y, double factor, bool transparent, bool shadow, bool threeD,
                          const TByteMask& bitmap, int32_t scale, const TStampInk& ink);

}  // namespace astrelon

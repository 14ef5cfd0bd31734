#include "filters/sharpening/cores/clipping_level.h"

#include "store/image_slot.h"

namespace astrelon {

float ClippingLevel(std::span<const float> plane) {
  float top = BlankLimit;
  int64_t count = 0;
  for (float v : plane) {
    if (!IsValidPixel(v) || v < top) continue;
    if (v > top) {
      top = v;
      count = 0;
    }
    ++count;
  }
  return count >= ClippedPixelsAtLeast ? top : HUGE_VALF;
}

}  // namespace astrelon

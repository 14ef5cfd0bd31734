#include "filters/sharpening/saturation_depth_mask.h"

#include "store/image_slot.h"

namespace astrelon {

void SaturationDepthMask(std::span<const float> plane, int32_t width, int32_t height, float level,
                         std::vector<uint8_t>& mask) {
  const size_t n = size_t(width) * size_t(height);
  mask.assign(n, 0);
  for (size_t i = 0; i < n && i < plane.size(); ++i)
    if (IsValidPixel(plane[i]) && plane[i] >= level) mask[i] = 2;
  // A mark raised in this round still exceeds r, so rising in place gives the
  // marks of a round computed from a copy.
  for (uint8_t r = 1; r <= 3; ++r)
    for (int32_t y = 1; y + 1 < height; ++y)
      for (int32_t x = 1; x + 1 < width; ++x) {
        const size_t i = size_t(y) * size_t(width) + size_t(x);
        if (mask[i] > r && mask[i - 1] > r && mask[i + 1] > r && mask[i - size_t(width)] > r &&
            mask[i + size_t(width)] > r)
          ++mask[i];
      }
}

}  // namespace astrelon

#pragma once
// Where an image is saturated, and how deep inside a saturated area each pixel
// lies: the mask by which "PSF schärfen" keeps star cores from being darkened.
#include <cstdint>
#include <span>
#include <vector>

namespace astrelon {

// mask (width x height bytes): 2 where the plane's value is at least `level`,
// else 0; then three rounds r = 1, 2, 3 raise by 1 every mark that, with the
// marks of its four neighbours, exceeds r. Pixels on the image's border rows
// and columns have no four neighbours and never grow. A mark is 0 or 2..5.
void SaturationDepthMask(std::span<const float> plane, int32_t width, int32_t height, float level,
                         std::vector<uint8_t>& mask);

}  // namespace astrelon

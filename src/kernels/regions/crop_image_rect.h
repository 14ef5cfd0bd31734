#pragma once
// Cutting a rectangle out of an image, into another slot or in place.
#include <cstdint>

namespace astrelon {

// Copies the inclusive rectangle x1..x2, y1..y2 of src (clipped to its image)
// into dst with the rectangle's size; in place when dst = src. For another slot
// the header cards, colour flag and plane count come along and dst is marked in
// use; in both cases the colour model is copied and dst's colour-filter pattern
// cleared. Value range, name and display record are the caller's. False, with
// nothing changed, when dst < 1, src holds no image or nothing is left after
// clipping.
bool CropImageRect(int src, int dst, int32_t x1, int32_t y1, int32_t x2, int32_t y2);

}  // namespace astrelon

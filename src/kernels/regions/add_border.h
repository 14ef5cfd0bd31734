#pragma once
// Growing an image in place by margins at its four sides.
#include <cstdint>

namespace astrelon {

// The slot's image grows by the margins (negative ones count as 0), the old
// pixels at (left, top), the margins filled with `fill`; the value range is the
// caller's. False, with nothing changed, when the slot holds no image;
// std::bad_alloc (nothing changed) when the new size is beyond the planes'
// limit or the free memory.
bool AddBorder(int slot, int32_t top, int32_t bottom, int32_t left, int32_t right, float fill);

}  // namespace astrelon

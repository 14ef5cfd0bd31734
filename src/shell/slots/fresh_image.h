#pragma once
// A new image made in a free slot: its size, one or three planes filled with
// one value, a fresh display record, the slot in use. It has no window until
// the caller shows it (ShowImageWindow) or frees it again as a work image.
#include <cstdint>

namespace astrelon {

// Grey with one plane, colour (RGB) with three. False (nothing done) unless
// the slot is a free slot 1..49 and the size at least 1 x 1.
bool MakeFreshImage(int slot, int32_t width, int32_t height, int planes, float fill);

}  // namespace astrelon

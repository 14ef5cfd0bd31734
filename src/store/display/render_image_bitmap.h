#pragma once
// A slot's image rendered into an 8-bit grey or 24-bit picture at a fixed
// factor, without display range or gamma: what is compressed or saved as a
// plain picture.
#include <cstdint>
#include <span>

#include "store/display/display_bitmap.h"

namespace astrelon {

// The factor 255 / maximum, 1 when the maximum is 0 or less (or not a number).
double RenderFactor(double maximum);

// The largest valid value over the slot's planes (0 when none is valid).
float ImageMaximum(int slot);

// Renders one plane of width × height values as an 8-bit grey picture, the
// same way as a grey slot below.
void RenderPlaneToBitmap(std::span<const float> plane, int32_t width, int32_t height, double factor,
                         TDisplayBitmap& bitmap);

// Renders the slot into `bitmap` (replacing its content): a colour slot as
// 24-bit with blue, green, red = planes 3, 2, 1 × factor, a grey slot as 8-bit
// with the grey colour table and plane 1 × factor. Each value is rounded (halves
// to even), clamped to ±10 000 000 and then to 0..255; blank pixels give 0.
// False (bitmap emptied) when the slot holds no usable image.
bool RenderImageToBitmap(int slot, double factor, TDisplayBitmap& bitmap);

}  // namespace astrelon

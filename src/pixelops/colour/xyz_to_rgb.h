#pragma once
// Conversion of an image holding XYZ values into display RGB: the values are
// normalised by the image's range, taken to linear sRGB (D65) and to the square
// root of each positive component.
#include <span>

namespace astrelon {

// One run of pixels in place with offset b and range r > 0: every pixel whose
// three values are valid becomes sqrt-compressed sRGB scaled back by r and b;
// pixels with a blank plane are left as they are. `vector` takes the four-pixel
// path where the processor has it, which gives the same bits.
void XyzToRgbRun(std::span<float> x, std::span<float> y, std::span<float> z, double b, double r, bool vector);

// The slot's three planes in place, with b = min(minimum, 0) and r = maximum - b;
// afterwards the value range is recomputed and the model is RGB (display type 9).
// With `adjustDisplay` the display black point (when above b) and the white point
// follow the same square-root mapping. False (nothing changed) for a slot that is
// not a three-plane colour image or whose range r is not above 0.
bool ConvertXyzToRgb(int slot, bool adjustDisplay);

}  // namespace astrelon

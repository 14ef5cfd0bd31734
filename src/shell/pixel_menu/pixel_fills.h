#pragma once
// Filling pixels of a slot from the image window's menus: a value made
// transparent, transparency given a value, the blank pixels of a colour mosaic
// taken from their same-colour neighbours, and a rectangle set to one value.
#include <array>

namespace astrelon {

// Every pixel whose plane 1 equals values[0] exactly (colour: planes 1..3 equal
// the three values) becomes blank (-1e11) in every plane.
void MakeValueTransparent(int slot, const std::array<float, 3>& values);

// Every pixel whose plane 1 is blank gets values[0] (colour: the three planes the
// three values).
void FillTransparentPixels(int slot, const std::array<float, 3>& values);

// Each blank pixel of each plane takes the median of the valid pixels among its
// same-colour neighbours of a colour mosaic (offsets -2, 0, +2 in x and y), read
// as they were before the pass; up to 500 passes, as long as some blank pixel
// found no valid neighbour.
void FillBlankMosaicPixels(int slot);

// Every pixel of the working rectangle (clipped to the image) in every plane := value.
void FillWorkRectWithValue(int slot, float value);

}  // namespace astrelon

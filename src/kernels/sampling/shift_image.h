#pragma once
// Shifting an image in place by real offsets.
namespace astrelon {

// Shifts the selected planes of the slot so that pixel (x, y) takes the value
// at (x + dx, y + dy), with the program-wide interpolation kind (its window set
// from the settings); pixels that come from outside become blank (-1e11). Rows
// and columns are resampled separably (an offset of 0 skips its pass); the
// network kind samples both offsets at once when both are non-zero.
void ShiftImage(int slot, double dx, double dy);

}  // namespace astrelon

#pragma once
// Turning an image over in place: mirrored left-right, upside down, or rotated by
// 90 degrees clockwise. Every plane of the slot is changed; blank pixels move
// with the others. Each returns false, with nothing changed, when the slot holds
// no image or running workers hold it.
namespace astrelon {

// Swaps the pixels x and width - 1 - x of every row (the middle column of an odd
// width stays).
bool MirrorSlotHorizontal(int slot);
// Swaps the rows y and height - 1 - y (the middle row of an odd height stays).
bool FlipSlotVertical(int slot);
// The pixel of old row y, column x goes to new row x, column height - 1 - y;
// width and height swap and the NAXIS1/NAXIS2 cards follow. Throws
// std::bad_alloc (the image unchanged) when a new plane does not fit in memory.
bool RotateSlotRight90(int slot);

}  // namespace astrelon

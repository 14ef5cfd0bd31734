#pragma once
// The noise level a star search counts with, taken once per image while its
// plane stays the same: the clipped differences of neighbouring pixels
// (EstimateNoiseClipped) over the rows of a big plane taken evenly (about a
// million pixels, rows of both parities), and on an undebayered colour mosaic of pixels two apart
// along the rows, the sites' own neighbours, so that unbalanced sites (a
// camera's raw frame) do not pass for noise. The value is kept with a
// fingerprint of the rows it came from and serves again as long as they are
// the same.
namespace astrelon {

// One 16-bit level in the units of the slot's plane: 1, or for a picture
// normalised to about 0..1 (its values within -2 .. 2, as other programs
// write floating-point files, but for at most one in a hundred) 1/65535. A star search counts its floors in
// these levels, so that such a picture measures its stars as the same picture
// in 16-bit levels does.
double StarLevelUnit(int slot, int plane);

// The noise level of the slot's plane for a star search, its floors in
// StarLevelUnit; a plane above 1 that holds no values falls back to plane 1.
float StarNoiseLevel(int slot, int plane, bool mosaic);

// The noise level a star search of the slot counts with: that of the plane
// GetRgbCode gives, plus a thousandth of a level.
float StarSearchThreshold(int slot, bool mosaic);

}  // namespace astrelon

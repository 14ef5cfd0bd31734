#pragma once
// Masking of one image by another: pixels are blanked where the mask image is
// bright, optionally filled again from their surroundings.

namespace astrelon {

// Blanks the pixels of destination `d` (a copy of image `a`) where mask `m` is
// at or above its mid level (maximum + minimum) / 2, plane by plane (a colour
// mask masks each plane by its own plane, a grey mask every plane by its one
// plane). Only the overlap of the images is masked; pixels outside it keep
// their values. With `fill` every blank pixel of `d` is then filled by
// InterpolateBlankPixels (all blanks, no progress), as the batch's "Bild
// maskieren" with "Transparenz interpolieren" asks.
void MaskImageByImage(int a, int m, int d, bool fill);

}  // namespace astrelon

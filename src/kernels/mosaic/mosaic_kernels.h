#pragma once
// Small routines over colour-mosaic planes shared by the colour-mosaic
// conversion, its workers and the shift measurement: the border pass, the fills
// of red and blue from colour differences or colour ratios, and the checkerboard
// fill. They read the pattern in MosaicPattern (mosaic_settings.h) by its first
// four cells and write only the pixels of their own rows, so that workers may
// run them side by side on disjoint rows.
#include <cstdint>
#include <span>

#include "kernels/mosaic/colour_fill_rows.h"

namespace astrelon {

// Fills the outer frame of a three-plane slot whose planes all hold a Bayer
// mosaic: green at the red and blue sites, then red and blue at every pixel of
// the frame from the colour differences of their 3 x 3 neighbours. `margin` pixels
// on each side (and one more for the green) make the frame; the interior is left
// as it is.
void InterpolateMosaicBorder(int slot, int32_t margin);

// Red and blue of rows first + 2, first + 2 + step, ... up to height - 3 (columns
// 2 .. width - 3) of the destination from its interpolated green (plane 2) and the
// source's mosaic (plane 1), by weighted colour differences: a sample's weight
// falls with the green difference to the pixel, epsilon keeping it finite; a
// largest difference above 1.5 times the mean is left out.
void FillRedBlueWeighted(int source, int destination, int32_t first, int32_t step, float epsilon);

// The same with the colour ratios (M - offset) / (G - offset) in place of the
// differences; a sample whose green is not above the offset is left out.
void FillRedBlueAstro(int source, int destination, int32_t first, int32_t step, float epsilon, float offset);

// The rows of either fill, for callers that take the rows 2 .. height - 3 in
// another order (FillRedBlueRow, one row at a time); false when the slots lack
// their planes or differ in size.
bool ColourFillRowOf(int source, int destination, float epsilon, float offset, bool ratio, TColourFillRow& row);

// Replaces every second pixel of each row (from column firstPhase in the first
// row, alternating from row to row) by the mean of its valid four neighbours
// inside the image, or blank without any; a corner pixel takes the mean of its
// two neighbours, else the valid one of them (the horizontal first). `plane`
// starts at the first pixel, rows `rowStride` values apart.
void InterpolateCheckerboardPixels(std::span<float> plane, int32_t width, int32_t height, int32_t firstPhase,
                                   int32_t rowStride);

}  // namespace astrelon

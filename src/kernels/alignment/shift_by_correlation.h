#pragma once
// Block matching: where the centre of a block of the reference image lies in a
// second image. The block is slid over a grid of placements around a search
// rectangle in rings from the centre outward; the placement with the smallest
// variance of the pixel differences wins and is refined to a fraction of a
// pixel by parabolas through its neighbours.
#include <cstdint>

#include "kernels/alignment/float_point.h"
#include "store/image_store.h"

namespace astrelon {

struct TShiftResult {
  TFloatPoint Position;   // point of the second image (or, see DetermineShift, a displacement)
  float UsedScale = 0;    // contrast factor applied to the reference block
  bool DiscDisplacement = false;  // DetermineShift: Position is the disc displacement c2 - c1
  // The best placement lies on the grid's outer row or column: the true shift
  // may lie beyond the search, so the position is not a measurement.
  bool AtSearchEdge = false;
};

// refRect: the block in the reference image; searchRect: the rectangle of the
// second image around whose centre the search runs (both clipped to their
// images). radius caps the grid (at most 80 cells per axis on the vector path,
// 65 on the plain path, and at most 1.5 times the block). isMosaic fills the
// non-green pixels of both from their green neighbours first (pattern of the
// colour-mosaic settings). scale > 0 is the contrast factor for the reference
// block, otherwise it is measured from the two images' value ranges.
// refPlane and secondPlane take effect for RGB colour images, else plane 1.
// Lowers MatchQuality; a block narrower or lower than 3 pixels, or no
// evaluated placement, gives position (0, 0) and quality 0.
TShiftResult FindShiftByCorrelation(int refSlot, int refPlane, int secondSlot, int secondPlane, TWorkRect refRect,
                                    TWorkRect searchRect, int32_t radius, bool isMosaic, double scale);

// How the costs of the search grid are found: true, all cells at once through
// spectra and the cells around the smallest pixel by pixel (the default);
// false, every evaluated cell pixel by pixel (the plain twin tests compare).
extern bool ShiftCostsBySpectra;

// Whether the spectra of a search without blank values are taken in single
// precision (the default: the cells around the smallest are recomputed pixel
// by pixel, so the position is that of the double transforms unless two
// far-apart cells lie within float rounding of each other; MatchQuality moves
// by that rounding) or in double precision (the reference tests compare).
extern bool ShiftSpectraInSingle;

}  // namespace astrelon

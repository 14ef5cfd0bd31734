#pragma once
// The PSF designer's grids: two component PSFs, each a shape of its own
// radius with the common aspect, combined with a weight into the designed PSF.
#include <cstdint>

#include "frequency/deconvolution/psf_grid.h"

namespace astrelon {

// How PSF2 joins PSF1: "+", "-" or "*".
enum class TPsfLink { Add, Subtract, Multiply };

struct TPsfDesigner {
  TPsfGrid DesignedPsf{};
  TPsfGrid Psf1Grid{};
  TPsfGrid Psf2Grid{};
  double Psf2Weight = 0;  // >= 0
  TPsfLink Link = TPsfLink::Add;
};

// Rebuilds Psf1Grid (which 1) or Psf2Grid (which 2) from a shape position,
// radius and aspect; false, the grid unchanged, when the shape is out of its
// limits (see BuildPsfShape) or `which` is neither.
bool BuildDesignerPsf(TPsfDesigner& d, int which, int32_t position, double radius, double aspect);

// DesignedPsf from the two grids, m = Psf2Weight held within FactorLimit
// (float_range.h): PSF1 when m <= 0; with "*"
// PSF1·max(1 − m, 0) + PSF1·PSF2·m/255; else PSF1 + m·PSF2 or PSF1 − m·PSF2.
void CombineDesignerPsf(TPsfDesigner& d);

// Whether the grid holds any value other than 0 (a grid of zeros is no PSF).
bool PsfGridHasValues(const TPsfGrid& grid);

}  // namespace astrelon

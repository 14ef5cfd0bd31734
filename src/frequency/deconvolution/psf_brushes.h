#pragma once
// The brushes of the PSF designer's view, applied to the designed grid at the
// cell under the mouse.
#include <cstdint>

#include "frequency/deconvolution/psf_grid.h"

namespace astrelon {

// "Zeichnen", "Glätten", " -w".
enum class TPsfBrush { Draw, Smooth, Decrease };

// Brush radius at the view's zoom 1, 2 or 4: 3, 1, 0.
int32_t PsfBrushRadius(int32_t zoom);

// At cell (x, y) with radius b, d being a cell's distance from it:
// Draw sets the cell to 255. Smooth replaces each cell with d < b + 1 by
// ((d + 0.5)·v + m3·(b + 0.5 − d))/(b + 1), m3 the mean of its 3 × 3
// neighbourhood in the grid as it was, weighted 1.7 − √(|di| + |dj|) and
// divided by the sum of the weights inside the grid. Decrease lowers each cell
// with d < b + 1 by max(b + 0.5 − d, 0)·15/(b + 0.5) and, with clampNegative,
// sets those that fall below 0 to 0. A cell outside the grid changes nothing.
void ApplyPsfBrush(TPsfGrid& grid, TPsfBrush brush, int32_t x, int32_t y, int32_t b, bool clampNegative);

}  // namespace astrelon

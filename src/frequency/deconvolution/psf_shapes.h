#pragma once
// The shapes of the PSF designer on its 64 × 64 grid: a slider position 0..49
// (x = position / 10) blends cone, Gauss, disc and ring (x below 3, and the ring
// at 3) and from there on draws a line whose angle follows x.
#include <cstdint>

#include "frequency/deconvolution/psf_grid.h"

namespace astrelon {

constexpr int32_t PsfShapePositions = 50;  // slider positions 0..49

// Fills the grid with the shape of that position, radius R and aspect q (the
// vertical extent is q times the horizontal one). False, the grid unchanged,
// unless 0.002 < R < 500, 0.002 < q < 500 and the position is 0..49.
bool BuildPsfShape(int32_t position, double radius, double aspect, TPsfGrid& grid);

// Angle of the line at slider value x (3 < x < 5): π·(x − 3.1)/1.8; x = 3.1 is
// horizontal, x = 4.0 vertical.
double PsfLineAngle(double x);

}  // namespace astrelon

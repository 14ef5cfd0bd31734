#pragma once
// The local shift field of multi-star alignment: on a grid of nodes every 4
// pixels, the residual shifts that the global fit leaves at the marks,
// averaged with weights that fall with the squared distance from the node and
// that shadow a mark lying behind a nearer one in about the same direction.
#include <cstdint>
#include <span>

#include "registration/matching/mark_shadowing.h"
#include "registration/stacking/stack_alignment.h"

namespace astrelon {

// A mark of the current image and the residual (Rx, Ry) that the global fit
// leaves between it and its reference partner.
struct TGridMark {
  double X = 0, Y = 0;
  double Rx = 0, Ry = 0;
};

// Allocates `grid` for an image of width x height: (width div 4 + 2) nodes per
// row and (height div 4 + 2) node rows, all (0, 0).
void AllocateShiftGrid(TShiftGrid& grid, int32_t width, int32_t height);

// Fills node rows firstNodeRow .. lastNodeRow (clipped to the grid) of an
// allocated grid; node (gx, gy) lies at pixel (4 gx, 4 gy). Rows run on worker
// threads when `multicore` is set; every node is computed alike whatever the
// split. Distance and direction of a mark are computed exactly at the first
// node of a row and then about every sqrt(r2) / 100 nodes, advanced linearly
// in between.
void FillShiftGridRows(std::span<const TGridMark> marks, TShiftGrid& grid, int32_t firstNodeRow, int32_t lastNodeRow,
                       bool multicore);

// The grid for the window's marks against their partners among the reference
// marks, through GlobalFit, in BatchShiftGrid: allocated for the window's image
// and filled for the node rows that cover image rows firstRow .. lastRow (node
// rows firstRow div 4 .. lastRow div 4 + 2), each at its own place. Window and
// reference being one image leave an empty grid (no local shift).
const TShiftGrid& BuildShiftGrid(int window, int reference, int firstRow, int lastRow);

}  // namespace astrelon

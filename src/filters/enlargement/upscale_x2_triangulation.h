#pragma once
// Two-times enlargement by triangulation: every source pixel becomes a 2 x 2
// block whose right and lower members are the midpoints towards the right and
// lower neighbours and whose lower-right member is the centre of the cell of
// four source pixels, taken along the cell diagonal that does not cross an
// edge (or as the mean of the four where no diagonal stands out).
#include <cstdint>
#include <span>
#include <vector>

#include "filters/enlargement/enlargement_poll.h"

namespace astrelon {

// How the centre of a cell is found.
enum TCellCode : uint8_t {
  CellMainDiagonal = 0,   // along upper-left to lower-right
  CellMeanOfFour = 1,     // the mean of the four corners
  CellOtherDiagonal = 2,  // along upper-right to lower-left
};

// The raw code of each cell of a row from grey rows y and y + 1 (w values
// each) into out[0 .. w - 2], with the corners a (x, y), b (x + 1, y), c (x, y
// + 1) and d (x + 1, y + 1): d1 = |a - d|, d2 = |b - c|; the other diagonal
// when d1 > d2 + threshold, else the mean when d1 >= d2 - threshold, else the
// main diagonal. `vector` takes the 32-cell loop, which gives the same codes.
void RawCellCodeRow(const float* row0, const float* row1, int32_t w, float threshold, uint8_t* out, bool vector);
// The raw codes of all (w - 1) x (h - 1) cells, cell (x, y) at y (w - 1) + x;
// empty for planes narrower or lower than 2.
std::vector<uint8_t> RawCellCodes(std::span<const float> grey, int32_t w, int32_t h, float threshold,
                                  bool vector);

// The smoothed codes of a cell row from the raw codes of it and of the rows
// above and below (w - 1 each): cells 1 .. w - 3 of an inner row (`inner`, rows
// 1 .. h - 3) become, with k0, k1, k2 the counts of the codes 0, 1, 2 among the
// eight neighbouring cells, 2 when k2 > k0 + 3, else 0 when k0 > k2 + 3, else
// 1 when k1 > 5, else their raw code; the other cells keep theirs. `vector`
// takes the 32-cell loop, which gives the same codes.
void SmoothCellCodeRow(const uint8_t* up, const uint8_t* mid, const uint8_t* down, int32_t w, bool inner,
                       uint8_t* row, bool vector);

// Rows 2y and 2y + 1 (each 2w values) of the enlargement of one plane from its
// rows y and y + 1 (the same row for the last one) and the smoothed codes of
// cell row y (empty: main diagonal everywhere). Row 2y takes the pixels and
// their midpoints to the right, row 2y + 1 the midpoints downwards and the
// cell centres. The right neighbour of the last column is the pixel itself. A
// midpoint of a blank and a valid pixel is the valid one; the mean of four
// takes the valid corners; -1e11 where nothing is valid. `vector` takes the
// eight-pixel loops, which give the same bits.
void TriangulateEvenRow(const float* row0, int32_t w, float* out0, bool vector);
void TriangulateOddRow(const float* row0, const float* row1, std::span<const uint8_t> codes, int32_t w, float* out1,
                       bool vector);

// Enlarges `source` into `destination` (a copy of the source on entry), which
// becomes twice as wide and high in every plane. The codes come from the
// source's grey image with the threshold 3 times the noise of plane 2 (colour)
// or 1 (grey). Clears the abort flag first. The even result rows are written
// while the noise is estimated, then the odd ones with the codes; the rows run
// in bands on all cores and stop when the abort flag is raised or the poll
// says no, and the function then returns false (the destination is enlarged
// but not finished). Throws std::bad_alloc, before anything changes, when the
// result does not fit in the free memory (enlargement_memory.h).
bool UpscaleX2Triangulation(int source, int destination, const TEnlargementPoll& poll = {});

}  // namespace astrelon

#pragma once
// The 64 × 64 grid of a designed point-spread function. Cell (x, y) is column x
// and row y of the image the grid becomes, centre (31, 31); it is stored at
// x · 64 + y, the order in which the main window's PSF panel reads it.
#include <array>
#include <cstddef>
#include <cstdint>

namespace astrelon {

constexpr int32_t PsfGridSide = 64;
constexpr int32_t PsfGridCentre = 31;

using TPsfGrid = std::array<float, size_t(PsfGridSide) * size_t(PsfGridSide)>;

constexpr size_t PsfCell(int32_t x, int32_t y) { return size_t(x) * size_t(PsfGridSide) + size_t(y); }
constexpr bool InPsfGrid(int32_t x, int32_t y) { return x >= 0 && x < PsfGridSide && y >= 0 && y < PsfGridSide; }

}  // namespace astrelon

#pragma once
// The designer's magnified view: a 64 × 64 grey picture of the grid at zoom
// 1 (all cells), 2 (32 × 32 cells, 2 × 2 pixels each) or 4 (16 × 16 cells,
// 4 × 4 pixels each), and the cell under a picture pixel.
#include <array>
#include <cstdint>
#include <optional>
#include <utility>

#include "frequency/deconvolution/psf_grid.h"

namespace astrelon {

constexpr int32_t PsfScrollMax = 100;  // scroll bar positions 0..100

// The first cell shown and the pixels per cell.
struct TPsfViewWindow {
  int32_t Zoom = 1;
  int32_t Left = 0, Top = 0;
};

// Zoom 1 shows every cell; zoom 2 starts at the scroll positions × 32/100,
// zoom 4 at × 48/100 (positions clamped to 0..100).
TPsfViewWindow PsfViewWindow(int32_t zoom, int32_t scrollX, int32_t scrollY);

// Row-major bytes, pixel (px, py) at py·64 + px: grey (v − min)·255/range,
// min the smallest valid value (from 255 down), max the largest (from 0 up),
// range at least 1; blank cells black.
std::array<uint8_t, 4096> PsfViewPicture(const TPsfGrid& grid, const TPsfViewWindow& window);

// The cell (x, y) under picture pixel (px, py); none outside the picture.
std::optional<std::pair<int32_t, int32_t>> PsfViewCell(const TPsfViewWindow& window, int32_t px, int32_t py);

}  // namespace astrelon

#include "frequency/deconvolution/psf_brushes.h"

#include <algorithm>
#include <cmath>

namespace astrelon {

namespace {

double WeightedMean3x3(const TPsfGrid& grid, int32_t x, int32_t y) {
  double sum = 0, weights = 0;
  for (int32_t di = -1; di <= 1; ++di)
    for (int32_t dj = -1; dj <= 1; ++dj) {
      if (!InPsfGrid(x + di, y + dj)) continue;
      const double w = 1.7 - std::sqrt(double(std::abs(di) + std::abs(dj)));
      sum += w * grid[PsfCell(x + di, y + dj)];
      weights += w;
    }
  return sum / weights;
}

// Calls f(cell, d) for the grid cells within distance d < b + 1 of (x, y).
template <class F>
void ForCellsWithin(int32_t x, int32_t y, int32_t b, F&& f) {
  for (int32_t i = x - b - 1; i <= x + b + 1; ++i)
    for (int32_t j = y - b - 1; j <= y + b + 1; ++j) {
      if (!InPsfGrid(i, j)) continue;
      const double d = std::hypot(double(i - x), double(j - y));
      if (d < b + 1) f(PsfCell(i, j), i, j, d);
    }
}

}  // namespace

int32_t PsfBrushRadius(int32_t zoom) { return zoom >= 4 ? 0 : zoom >= 2 ? 1 : 3; }

void ApplyPsfBrush(TPsfGrid& grid, TPsfBrush brush, int32_t x, int32_t y, int32_t b, bool clampNegative) {
  if (!InPsfGrid(x, y) || b < 0) return;
  switch (brush) {
    case TPsfBrush::Draw: grid[PsfCell(x, y)] = 255.0f; break;
    case TPsfBrush::Smooth: {
      const TPsfGrid before = grid;
      ForCellsWithin(x, y, b, [&](size_t cell, int32_t i, int32_t j, double d) {
        const double m3 = WeightedMean3x3(before, i, j);
        grid[cell] = float(((d + 0.5) * before[cell] + m3 * (b + 0.5 - d)) / (b + 1));
      });
      break;
    }
    case TPsfBrush::Decrease:
      // The rim beyond b + 0.5 is left alone: the decrease never raises a cell.
      ForCellsWithin(x, y, b, [&](size_t cell, int32_t, int32_t, double d) {
        const double amount = std::max(b + 0.5 - d, 0.0) * 15.0 / (b + 0.5);
        float v = float(grid[cell] - amount);
        if (clampNegative && v < 0) v = 0;
        grid[cell] = v;
      });
      break;
  }
}

}  // namespace astrelon

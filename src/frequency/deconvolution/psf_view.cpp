#include "frequency/deconvolution/psf_view.h"

#include <algorithm>
#include <cmath>

#include "store/image_slot.h"

namespace astrelon {

TPsfViewWindow PsfViewWindow(int32_t zoom, int32_t scrollX, int32_t scrollY) {
  scrollX = std::clamp(scrollX, 0, PsfScrollMax);
  scrollY = std::clamp(scrollY, 0, PsfScrollMax);
  if (zoom >= 4) return {4, scrollX * 48 / PsfScrollMax, scrollY * 48 / PsfScrollMax};
  if (zoom >= 2) return {2, scrollX * 32 / PsfScrollMax, scrollY * 32 / PsfScrollMax};
  return {1, 0, 0};
}

std::array<uint8_t, 4096> PsfViewPicture(const TPsfGrid& grid, const TPsfViewWindow& window) {
  float lo = 255.0f, hi = 0.0f;
  for (float v : grid)
    if (IsValidPixel(v)) {
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
  const double range = std::max(double(hi) - double(lo), 1.0);
  std::array<uint8_t, 4096> picture{};
  for (int32_t py = 0; py < PsfGridSide; ++py)
    for (int32_t px = 0; px < PsfGridSide; ++px) {
      const auto cell = PsfViewCell(window, px, py);
      const float v = grid[PsfCell(cell->first, cell->second)];
      if (!IsValidPixel(v)) continue;
      const double g = std::clamp((double(v) - lo) * 255.0 / range, 0.0, 255.0);
      picture[size_t(py) * PsfGridSide + size_t(px)] = uint8_t(std::nearbyint(g));
    }
  return picture;
}

std::optional<std::pair<int32_t, int32_t>> PsfViewCell(const TPsfViewWindow& window, int32_t px, int32_t py) {
  if (px < 0 || py < 0 || px >= PsfGridSide || py >= PsfGridSide || window.Zoom < 1) return std::nullopt;
  const int32_t x = window.Left + px / window.Zoom, y = window.Top + py / window.Zoom;
  if (!InPsfGrid(x, y)) return std::nullopt;
  return std::pair{x, y};
}

}  // namespace astrelon

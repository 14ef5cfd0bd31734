#pragma once
// The blank rows and columns at the edges of an image, and cutting them away.
#include <cstdint>

namespace astrelon {

struct TBlankMargins {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  int64_t Sum() const { return int64_t(Left) + Top + Right + Bottom; }
};

// Counts, from each edge towards the middle, the rows (top, bottom) and columns
// (left, right) whose pixels are blank in every plane; each count stops after
// the middle row or column. All zero when the slot holds no image.
TBlankMargins FindBlankMargins(int slot);

// Cuts the blank edge rows and columns off the slot's image in place. False when
// there were none or nothing would be left.
bool TrimBlankEdges(int slot);

}  // namespace astrelon

#pragma once
// Where an image has structure: one byte per pixel that the training's choice
// of positions weighs, so that flat areas are trained less often.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace astrelon {

struct TStructureMap {
  int32_t Width = 0, Height = 0;
  std::vector<uint8_t> Bytes;  // row by row; 0 where the 7 x 7 window leaves the image
  uint8_t At(int32_t x, int32_t y) const { return Bytes[size_t(y) * size_t(Width) + size_t(x)]; }
};

// For every pixel whose 7 x 7 window lies inside the image: m = the largest
// |p - centre| in the window (over all planes), byte = round(215 m / (maximum
// - minimum)) + 40, so 40..255. Blank pixels count as the centre. An image
// without a value range (flat) gives an empty map.
TStructureMap BuildStructureMap(int slot);

}  // namespace astrelon

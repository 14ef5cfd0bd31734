#pragma once
// An 8-bit coverage bitmap (0 no ink .. 255 full ink) that text and arrows are
// drawn into before they are merged into an image.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace astrelon {

struct TByteMask {
  int32_t Width = 0;
  int32_t Height = 0;
  std::vector<uint8_t> Bytes;  // row-major, Width x Height

  TByteMask() = default;
  TByteMask(int32_t w, int32_t h) : Width(w), Height(h), Bytes(size_t(w) * size_t(h), 0) {}
  bool Inside(int32_t x, int32_t y) const { return x >= 0 && y >= 0 && x < Width && y < Height; }
  uint8_t& At(int32_t x, int32_t y) { return Bytes[size_t(y) * size_t(Width) + size_t(x)]; }
  uint8_t At(int32_t x, int32_t y) const { return Bytes[size_t(y) * size_t(Width) + size_t(x)]; }
};

}  // namespace astrelon

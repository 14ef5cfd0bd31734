#pragma once
// The tables of the "hi-f" two-times enlargement: its two variants, the patch
// window with its weights, and the direction class of an offset.
#include <array>
#include <cmath>
#include <cstdint>

namespace astrelon {

enum class THiFVariant : int32_t {
  Tri = 0,   // triangulation base, detail at source scale (a 2 x 2 block per source pixel)
  Sinc = 1,  // dSinc base, detail at result scale (one result pixel at a time)
};

// The patch window: rows r = -2 .. 3, row r covering the columns
// PatchLo(r) .. PatchHi(r) (30 pixels).
constexpr int32_t PatchLo(int32_t r) {
  constexpr std::array<int32_t, 6> lo{-1, -2, -2, -2, -2, -1};
  return lo[size_t(r + 2)];
}
constexpr int32_t PatchHi(int32_t r) {
  constexpr std::array<int32_t, 6> hi{2, 3, 3, 3, 2, 1};
  return hi[size_t(r + 2)];
}

// The weight of patch pixel (r, c): exp(-((r - o)^2 + (c - o)^2) / 2.9^2) with o
// = 0.25 (tri) or 0 (sinc), Euler's number held as 2.718281828459.
inline double PatchWeight(THiFVariant v, int32_t r, int32_t c) {
  const double o = v == THiFVariant::Tri ? 0.25 : 0.0;
  return std::pow(2.718281828459, -((r - o) * (r - o) + (c - o) * (c - o)) / (2.9 * 2.9));
}

// The direction class 0..7 of an offset (dy, dx), both -3 .. 3: 0 horizontal,
// 4 vertical, 2 and 6 the diagonals, the odd classes between them.
constexpr int32_t DirectionClass(int32_t dy, int32_t dx) {
  constexpr int32_t table[7][7] = {
      {2, 2, 3, 4, 5, 6, 6}, {2, 2, 3, 4, 5, 6, 6}, {1, 1, 2, 4, 6, 7, 7}, {0, 0, 0, 0, 0, 0, 0},
      {7, 7, 6, 4, 2, 1, 1}, {6, 6, 5, 4, 3, 2, 2}, {6, 6, 5, 4, 3, 2, 2},
  };
  return table[dy + 3][dx + 3];
}

// A direction-map byte: the class in bits 0..2, a weight 0..31 in bits 3..7.
constexpr uint8_t DirectionByte(int32_t cls, int32_t weight) { return uint8_t(cls + 8 * weight); }
constexpr int32_t DirectionClassOf(uint8_t b) { return b & 7; }
constexpr int32_t DirectionWeightOf(uint8_t b) { return b >> 3; }

}  // namespace astrelon

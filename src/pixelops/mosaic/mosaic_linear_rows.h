#pragma once
// One output row of "Lineare Interpolation" for one channel, several pixels at a
// time. The taps of the two column parities are merged into one list in kernel
// order (row by row, left to right); each pixel adds only its own parity's taps
// (the others are masked to +0, which leaves a sum unchanged), so every path
// gives the one-pixel-at-a-time sums bit for bit.
#include <array>
#include <cstddef>
#include <cstdint>

namespace astrelon {

// The merged taps of one row phase and channel.
struct TLinearRowTaps {
  int32_t Taps = 0;
  std::array<int32_t, 9> Dy{}, Dx{};
  std::array<std::array<float, 2>, 9> Weight{};  // [tap][column parity]
  std::array<std::array<bool, 2>, 9> Used{};     // whether the parity has that tap
  std::array<bool, 2> Blank{};                   // a parity without a kernel: blank pixels
};

// out[x - 1] for x = 1 .. w - 2 of row `row` (the mosaic row itself; rows above
// and below are w values away). vector: lanes of eight (AVX2) or four, else the
// scalar twin.
void LinearMosaicRow(const float* row, int32_t w, const TLinearRowTaps& taps, float* out, bool vector = true);
// Makes the rows written so far visible to other threads (the vector path
// writes past the caches); a worker calls it before it reports its rows done.
void FinishStreamedRows();

}  // namespace astrelon

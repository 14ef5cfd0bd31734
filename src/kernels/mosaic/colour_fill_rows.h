#pragma once
// One row of the red and blue fills from colour differences or colour ratios
// (FillRedBlueWeighted, FillRedBlueAstro), several sites of one column parity
// at a time. Each lane adds its samples in the same order and with the same
// float operations as a single site would, so every path gives the same values
// bit for bit.
#include <cstddef>
#include <cstdint>

#include "kernels/mosaic/mosaic_settings.h"

namespace astrelon {

struct TColourFillRow {
  const float* M = nullptr;  // the mosaic
  const float* G = nullptr;  // the interpolated green
  float* R = nullptr;        // red and blue planes written
  float* B = nullptr;
  int32_t W = 0, H = 0;
  float Epsilon = 0;
  float Offset = 0;    // the ratio fill's offset
  bool Ratio = false;  // colour ratios in place of differences
};

// Columns 2 .. W - 3 of row y (2 .. H - 3) by the first four cells of `cells`;
// vector: lanes of eight (AVX2) or four, else the scalar twin.
void FillRedBlueRow(const TColourFillRow& row, const TMosaicCells& cells, int32_t y, bool vector = true);

}  // namespace astrelon

#pragma once
// One row of a MinBlur step, read from the rows of a plane or of a window of
// rows, so that a pass can run two steps at once (min_blur_step.cpp).
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "kernels/background/min_blur_step.h"

namespace astrelon {

// The rows a step reads, `Pitch` floats apart: row y starts at
// Buffer + (y - First) * Pitch (a plane has First = 0; a window of rows
// holds the rows First .. First + rows - 1).
struct TStepRows {
  const float* Buffer = nullptr;
  size_t Pitch = 0;
  int32_t First = 0;
  const float* Row(int32_t y) const { return Buffer + ptrdiff_t(y - First) * ptrdiff_t(Pitch); }
};

// A window with its neighbours as index offsets in rows of a given pitch, and
// which of them lie inside the image for the pixels it serves.
struct TPlacedStencil {
  TMinBlurStencil S;
  std::array<ptrdiff_t, 8> Offset{};
  std::array<bool, 8> Inside{};
};

// The columns x0 .. x1 - 1 of a row whose neighbours lie inside alike.
struct TRowRun {
  int32_t X0, X1;
  TPlacedStencil P;
};

// The runs of one class of rows (those whose neighbours above and below lie
// inside alike), kept while a thread runs down its rows: up to five runs,
// split where a neighbour's column leaves the image.
class TRowWindows {
public:
  TRowWindows(const TMinBlurStencil& stencil, bool rejecting, int32_t width, int32_t height, size_t pitch,
              bool avx2);
  // Row y (all columns) into `out` (the row's first pixel), from the work
  // rows `w` and the reference rows `a`. The vector paths give the scalar
  // path's bits.
  void Blur(const TStepRows& a, const TStepRows& w, float* out, int32_t y);

private:
  void For(int32_t y);

  TMinBlurStencil stencil_;
  bool rejecting_;
  int32_t width_, height_;
  size_t pitch_;
  bool avx2_;
  int32_t class_ = -1;  // the rows' neighbours inside, one bit each
  std::vector<TRowRun> runs_;
};

}  // namespace astrelon

#pragma once
// One row of a MinBlur step, read from the rows of a plane or of a window of
// rows, so that a pass can run two steps at once (min_blur_step.cpp).
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "kernels/background/min_blur_windows.h"

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

// A window with its neighbours as index offsets in rows of a given pitch.
struct TPlacedStencil {
  TMinBlurStencil S;
  std::array<ptrdiff_t, 8> Offset{};
};

// Two runs of four pixels side by side, each in its own window, as the
// eight-lane path takes them: weights per lane, offsets of either half.
struct TPairLanes {
  alignas(64) double Weights[8][8];
  alignas(64) double Centre[8];
  alignas(64) double CentreWeight[8];
  ptrdiff_t Low[8], High[8];
};

// A piece of a row: a border pixel, a run of pixels in one window (`Window`:
// group g near the edges, -1 the middle of the row) or two runs of four (the
// windows `Window` and `Second`, prepared as `Pair`).
struct TRowPiece {
  enum class TKind : uint8_t { Border, Run, Pair } Kind;
  int32_t X, Length, Window, Second, Pair;
};

// The windows of one class of rows, kept while a thread runs down its rows:
// the rows ey pixels from the top or bottom edge share them when ey rounds
// down to the same multiple of four, and so do all rows deeper than the
// step's Inner(). Group g holds the window of the columns 4 g .. 4 g + 3 from
// the left or right edge (1 .. 3 for g = 0), `Middle` that of the rest.
class TRowWindows {
public:
  TRowWindows(const TStepWindows& step, int32_t width, size_t pitch, bool avx2);
  // Row y (all columns) into `out` (the row's first pixel), from the work
  // rows `w` and the reference rows `a` of a plane `height` rows high. The
  // vector paths give the scalar path's bits.
  void Blur(const TStepRows& a, const TStepRows& w, float* out, int32_t y, int32_t height);

private:
  void For(int32_t ey);

  const TStepWindows& step_;
  int32_t width_;
  size_t pitch_;
  bool avx2_, pairs_;
  std::vector<TRowPiece> pieces_;  // the same in every row but the top and bottom ones
  int32_t class_ = -1;
  std::vector<TPlacedStencil> group_;
  TPlacedStencil middle_;
  std::vector<TPairLanes> pairLanes_;
};

}  // namespace astrelon

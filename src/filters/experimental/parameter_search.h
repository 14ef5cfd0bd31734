#pragma once
// The searches of the experimental fitting commands: coordinate searches that
// change one parameter at a time by a step, keep an improvement and otherwise
// turn back or shrink the step; and the root mean square difference they
// minimise.
#include <array>
#include <cstdint>
#include <limits>
#include <span>

#include "filters/enlargement/sharpen_neighbours3.h"

namespace astrelon {

// Root mean square of a - b over the pixels of rows and columns `margin` ..
// size - 1 - margin where both are valid; 0 when none is.
double PlaneRmsDifference(std::span<const float> a, std::span<const float> b, int32_t w, int32_t h, int32_t margin);

// "Filtercoeff berechnen": the four weights c0..c3 of the symmetric 5 x 5
// filter with centre weight 2.8 (direct, diagonal, two along the axes, knight's
// moves).
struct TCoefficientSearch {
  std::array<double, 4> C{-0.02, -0.0214, -0.025, -0.017};
  std::array<double, 4> Step{0.02, 0.02, 0.02, 0.02};
  int32_t Index = 0;
  int32_t Direction = 1;
  double Best = std::numeric_limits<double>::infinity();

  // Moves the current coefficient by direction x step; the coefficients to try.
  const std::array<double, 4>& Propose();
  // The RMS of the proposal: an improvement is kept and the next coefficient
  // taken upwards; otherwise the move is undone and, after an upward try, the
  // same coefficient tried downwards, after a downward one its step halved and
  // the next coefficient taken upwards. After c3 comes c0.
  void Report(double rms);
};

// The coefficients as the normalised neighbour weights (centre 1).
TNeighbourWeights CoefficientWeights(const std::array<double, 4>& c);

// "upscale+vschärfen beste MSE ermitteln": strength and maximum shift of the
// gradient shift sharpening, the maximum shift changed first.
struct TShiftSearch {
  double Strength = 0.5, MaximumShift = 0.35;
  double StrengthStep = 0.1, ShiftStep = 0.02;
  bool ChangingShift = true;
  double Best = 100000;

  // Moves the parameter being changed by its step; returns (maximum shift, strength).
  std::array<double, 2> Propose();
  // A better RMS becomes the best; a worse or equal one undoes the move and
  // reverses the step, and when the reversed step is positive again the search
  // turns to the other parameter and multiplies that one's step by 2/3.
  void Report(double rms);
};

}  // namespace astrelon

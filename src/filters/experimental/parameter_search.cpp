#include "filters/experimental/parameter_search.h"

#include <cmath>

#include "store/image_slot.h"

namespace astrelon {

double PlaneRmsDifference(std::span<const float> a, std::span<const float> b, int32_t w, int32_t h, int32_t margin) {
  const size_t count = size_t(std::max(w, 0)) * size_t(std::max(h, 0));
  if (a.size() < count || b.size() < count) return 0;
  double sum = 0;
  int64_t n = 0;
  for (int32_t y = margin; y <= h - 1 - margin; ++y)
    for (int32_t x = margin; x <= w - 1 - margin; ++x) {
      const size_t i = size_t(y) * size_t(w) + size_t(x);
      if (!IsValidPixel(a[i]) || !IsValidPixel(b[i])) continue;
      const double d = double(a[i]) - double(b[i]);
      sum += d * d;
      ++n;
    }
  return n > 0 ? std::sqrt(sum / double(n)) : 0.0;
}

const std::array<double, 4>& TCoefficientSearch::Propose() {
  C[size_t(Index)] += Direction * Step[size_t(Index)];
  return C;
}

void TCoefficientSearch::Report(double rms) {
  const size_t i = size_t(Index);
  if (rms < Best) {
    Best = rms;
    Index = (Index + 1) % 4;
    Direction = 1;
    return;
  }
  C[i] -= Direction * Step[i];
  if (Direction == 1) {
    Direction = -1;
    return;
  }
  Step[i] /= 2;
  Direction = 1;
  Index = (Index + 1) % 4;
}

TNeighbourWeights CoefficientWeights(const std::array<double, 4>& c) {
  constexpr double Centre = 2.8;
  return {float(c[0] / Centre), float(c[1] / Centre), float(c[2] / Centre), float(c[3] / Centre)};
}

std::array<double, 2> TShiftSearch::Propose() {
  if (ChangingShift) MaximumShift += ShiftStep;
  else Strength += StrengthStep;
  return {MaximumShift, Strength};
}

void TShiftSearch::Report(double rms) {
  if (rms < Best) {
    Best = rms;
    return;
  }
  double& step = ChangingShift ? ShiftStep : StrengthStep;
  (ChangingShift ? MaximumShift : Strength) -= step;
  step = -step;
  if (step > 0) {
    ChangingShift = !ChangingShift;
    (ChangingShift ? ShiftStep : StrengthStep) *= 0.666666666667;
  }
}

}  // namespace astrelon

#pragma once
// The curves of the frequency filter over K frequency bins: the spectrum S (the
// image's mean amplitude per bin), the response C the user wants, and the base B
// (C as it was before the current equaliser edit). The ratio C/S is what the
// filter applies.
#include <cstdint>
#include <vector>

namespace astrelon {

struct TFilterCurves {
  std::vector<double> S, C, B;
  // The graph's reference: the largest value of C when the spectrum was computed.
  double Max = 1.0;

  int32_t K() const { return int32_t(S.size()); }
  // C = S, B = C; Max = the largest value of C, at least `leastMax`.
  void ResetToSpectrum(double leastMax);
};

}  // namespace astrelon

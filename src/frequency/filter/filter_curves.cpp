#include "frequency/filter/filter_curves.h"

#include <algorithm>

namespace astrelon {

void TFilterCurves::ResetToSpectrum(double leastMax) {
  C = S;
  B = C;
  Max = leastMax;
  for (double v : C) Max = std::max(Max, v);
}

}  // namespace astrelon

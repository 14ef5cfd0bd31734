#include "kernels/alignment/match_quality.h"

namespace astrelon {

double MatchQuality = 99.0;

void LowerMatchQuality(double q) {
  if (q < MatchQuality) MatchQuality = q;
}

}  // namespace astrelon

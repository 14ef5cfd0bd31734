#include "kernels/alignment/match_quality.h"

namespace astrelon {

double MatchQuality = 99.0;

void LowerMatchQuality(double q) {
  // A measurement that gives no number, or less than nothing, measured nothing.
  if (!(q >= 0)) q = 0;
  if (q < MatchQuality) MatchQuality = q;
}

}  // namespace astrelon

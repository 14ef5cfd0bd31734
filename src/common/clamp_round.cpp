#include "common/clamp_round.h"

#include <cmath>

namespace astrelon {

int32_t ClampRoundToInt(double value) {
  constexpr double Limit = 1e7;
  if (std::isnan(value)) return 0;
  if (value < -Limit) return -10'000'000;
  if (value > Limit) return 10'000'000;
  return int32_t(std::nearbyint(value));
}

}  // namespace astrelon

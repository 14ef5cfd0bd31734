#include "shell/stamps/stamp_size.h"

#include <cmath>

namespace astrelon {

int32_t StampRadiusSquared = StampRadiusSquaredOf(10);

int32_t StampRadiusSquaredOf(int size) {
  const double r = (size + 1) * 0.5;
  return int32_t(std::nearbyint(r * r));
}

}  // namespace astrelon

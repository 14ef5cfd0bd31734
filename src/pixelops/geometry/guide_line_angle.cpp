#include "pixelops/geometry/guide_line_angle.h"

#include <cmath>
#include <numbers>

namespace astrelon {

double GuideLineAngle(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  const double dx = double(x1) - x2, dy = double(y1) - y2;
  constexpr double degrees = 180.0 / std::numbers::pi;
  // The line's tilt, clockwise on the screen (rows grow downwards), folded into -90..90.
  double tilt = std::fabs(dx) > std::fabs(dy) ? -std::atan2(dy, dx) * degrees : std::atan2(dx, dy) * degrees;
  if (tilt > 90) tilt -= 180;
  if (tilt < -90) tilt += 180;
  // Turning by the tilt counter-clockwise undoes it.
  return tilt == 0 ? 0.0 : -tilt;
}

}  // namespace astrelon

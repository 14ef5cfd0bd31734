#include "pixelops/stamping/thick_line.h"

#include <algorithm>
#include <cmath>

namespace astrelon {

namespace {

// Integer part (toward zero), kept in range before the conversion.
int32_t IntPart(double v) { return int32_t(std::clamp(std::trunc(v), -2.0e9, 2.0e9)); }

void PaintDisc(TByteMask& mask, double px, double py, double d) {
  const int32_t side = IntPart(1.999 + d) + 1;
  const int32_t x0 = IntPart(px) - IntPart(0.999 + d / 2);
  const int32_t y0 = IntPart(py) - IntPart(0.999 + d / 2);
  for (int32_t y = y0; y < y0 + side; ++y)
    for (int32_t x = x0; x < x0 + side; ++x) {
      if (!mask.Inside(x, y)) continue;
      const double rho = std::hypot(x - px, y - py);
      const double edge = rho + 0.5 - d / 2;
      int v = 0;
      if (edge <= 0)
        v = 255;
      else if (edge < 1)
        v = 255 - int(std::nearbyint(255 * edge));
      uint8_t& m = mask.At(x, y);
      if (v > m) m = uint8_t(v);
    }
}

}  // namespace

void DrawThickLine(TByteMask& mask, double x0, double y0, double diameter, double y1, double x1) {
  if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1) || !std::isfinite(diameter))
    return;
  const double dx = x1 - x0, dy = y1 - y0;
  const bool alongX = std::abs(dx) >= std::abs(dy);
  const double major = alongX ? dx : dy;
  const double stepMajor = major > 0 ? 1.0 : (major < 0 ? -1.0 : 0.0);
  const double stepMinor = major != 0 ? (alongX ? dy : dx) / std::abs(major) : 0.0;
  const double end = alongX ? x1 : y1;
  double px = x0, py = y0;
  // The steps needed to reach the end point, with a margin; a zero-length line steps once.
  const int64_t limit = int64_t(std::min(std::abs(major), 1e7)) + 2;
  for (int64_t k = 0; k < limit; ++k) {
    PaintDisc(mask, px, py, diameter);
    const double along = alongX ? px : py;
    if (std::abs(along - end) < 0.4 || stepMajor == 0) break;
    if (alongX) {
      px += stepMajor;
      py += stepMinor;
    } else {
      py += stepMajor;
      px += stepMinor;
    }
  }
}

void FillTriangle(TByteMask& mask, double ax, double ay, double bx, double by, double cx, double cy) {
  const double area = (bx - ax) * (cy - ay) - (by - ay) * (cx - ax);
  if (!std::isfinite(area) || area == 0) return;
  const int32_t yMin = std::max(0, IntPart(std::floor(std::min({ay, by, cy}))));
  const int32_t yMax = std::min(mask.Height - 1, IntPart(std::ceil(std::max({ay, by, cy}))));
  const int32_t xMin = std::max(0, IntPart(std::floor(std::min({ax, bx, cx}))));
  const int32_t xMax = std::min(mask.Width - 1, IntPart(std::ceil(std::max({ax, bx, cx}))));
  const double sign = area > 0 ? 1.0 : -1.0;
  for (int32_t y = yMin; y <= yMax; ++y)
    for (int32_t x = xMin; x <= xMax; ++x) {
      const double e1 = sign * ((bx - ax) * (y - ay) - (by - ay) * (x - ax));
      const double e2 = sign * ((cx - bx) * (y - by) - (cy - by) * (x - bx));
      const double e3 = sign * ((ax - cx) * (y - cy) - (ay - cy) * (x - cx));
      if (e1 >= 0 && e2 >= 0 && e3 >= 0) mask.At(x, y) = 255;
    }
}

}  // namespace astrelon

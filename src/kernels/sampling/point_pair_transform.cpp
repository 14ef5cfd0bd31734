#include "kernels/sampling/point_pair_transform.h"

#include <cmath>

#include "kernels/sampling/fitted_transform.h"

namespace astrelon {

namespace {

// The fractional part with the sign of v.
double SignedFrac(double v) { return v - std::trunc(v); }

TPointPairTransform Shift(double tx, double ty) {
  TPointPairTransform t;
  t.Tx = tx;
  t.Ty = ty;
  t.WholePixel = std::fabs(SignedFrac(tx + 1e-6)) + std::fabs(SignedFrac(ty + 1e-6)) < 4e-6;
  return t;
}

}  // namespace

TPointPairTransform PointPairTransform(int32_t count, TFloatPoint a1, TFloatPoint a2, TFloatPoint b1, TFloatPoint b2) {
  if (count >= 3) {
    const TFittedTransform& f = BatchFittedTransform;
    TPointPairTransform t;
    t.A = f.A;
    t.B = f.B;
    t.Tx = f.Tx - double(f.Ox);
    t.Ty = f.Ty - double(f.Oy);
    t.WholePixel = false;
    return t;
  }
  if (count <= 0) return {};
  const double ax = double(a2.X) - a1.X, ay = double(a2.Y) - a1.Y;
  const double bx = double(b2.X) - b1.X, by = double(b2.Y) - b1.Y;
  const double da = std::hypot(ax, ay), db = std::hypot(bx, by);
  if (count == 1 || da < 1 || db < 1) return Shift(double(b1.X) - a1.X, double(b1.Y) - a1.Y);
  const double s = db / da;
  const double phi = std::atan2(by, bx) - std::atan2(ay, ax);
  TPointPairTransform t;
  t.A = s * std::cos(phi);
  t.B = s * std::sin(phi);
  t.Tx = b1.X - t.A * a1.X + t.B * a1.Y;
  t.Ty = b1.Y - t.A * a1.Y - t.B * a1.X;
  t.WholePixel = false;
  return t;
}

}  // namespace astrelon

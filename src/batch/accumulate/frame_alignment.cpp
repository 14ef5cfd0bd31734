#include "batch/accumulate/frame_alignment.h"

#include <algorithm>
#include <cmath>

#include "registration/combination/batch_combination_inputs.h"

namespace astrelon {

void TFrameAlignment::Map(double c, double r, double& x, double& y) const {
  if (Count <= 2) {
    Pairs.Map(c, r, x, y);
    return;
  }
  x = Fitted.Tx - Fitted.Ox + Fitted.A * c - Fitted.B * r;
  y = Fitted.Ty - Fitted.Oy + Fitted.B * c + Fitted.A * r;
  if (Grid) {
    double dx, dy;
    GridShift(*Grid, c, r, dx, dy);
    x += dx;
    y += dy;
  }
}

void TFrameAlignment::Unmap(double x, double y, double& c, double& r) const {
  const double a = Pairs.A, b = Pairs.B, d = a * a + b * b;
  const double u = x - Pairs.Tx, v = y - Pairs.Ty;
  if (!(d > 0)) {
    c = u;
    r = v;
    return;
  }
  c = (a * u + b * v) / d;
  r = (a * v - b * u) / d;
}

TFrameAlignment FrameAlignment(const TAlignPoints& p, int32_t count) {
  TFrameAlignment t;
  t.Count = count;
  t.Pairs = PointPairTransform(std::min(count, 2), {p.A1x, p.A1y}, {p.A2x, p.A2y}, {p.B1x, p.B1y}, {p.B2x, p.B2y});
  if (count > 2) {
    t.Fitted = BatchFittedTransform;
    t.Grid = &BatchShiftGrid;
  }
  return t;
}

}  // namespace astrelon

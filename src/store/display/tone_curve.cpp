// The smooth tone curve: a quadratic B-spline through the midpoints of the
// polygon black, five user points, white, with mirrored end points.
#include <algorithm>
#include <array>
#include <cmath>

#include "store/display/display_histogram.h"
#include "store/image_store.h"

namespace astrelon {

namespace {
std::array<double, 9> CurveX{-1, 0, 1.0 / 6, 2.0 / 6, 3.0 / 6, 4.0 / 6, 5.0 / 6, 1, 2};
std::array<double, 9> CurveY{-1.0 / 6, 0, 1.0 / 6, 2.0 / 6, 3.0 / 6, 4.0 / 6, 5.0 / 6, 1, 7.0 / 6};
}  // namespace

void LoadCurvePoints(int slot) {
  if (slot < 0 || slot >= SlotArraySize) return;
  const TDisplayRecord& d = Store.Display[slot];
  CurveX[1] = d.Black;
  CurveY[1] = 0;
  for (int k = 1; k <= 5; ++k) {
    CurveX[size_t(k + 1)] = d.CurvePoints[size_t(k)].X;
    CurveY[size_t(k + 1)] = d.CurvePoints[size_t(k)].Y;
  }
  CurveX[7] = d.White;
  CurveY[7] = 1;
  CurveX[0] = 2.0 * d.Black - CurveX[2];
  CurveY[0] = -CurveY[2];
  CurveX[8] = 2.0 * d.White - CurveX[6];
  CurveY[8] = 2.0 - CurveY[6];
}

double EvaluateCurve(float xf) {
  const double x = xf;
  if (std::isnan(x)) return 0.0;
  int s = 0;
  for (int k = 2; k <= 6; ++k)
    if (CurveX[size_t(k)] <= x) ++s;
  const size_t c = size_t(s + 1);
  const double m = (CurveX[c] + CurveX[c + 1]) / 2;
  double a, b, e, ya, yb, ye;
  if (x >= m) {
    a = m;
    b = CurveX[c + 1];
    e = (CurveX[c + 1] + CurveX[c + 2]) / 2;
    ya = (CurveY[c] + CurveY[c + 1]) / 2;
    yb = CurveY[c + 1];
    ye = (CurveY[c + 1] + CurveY[c + 2]) / 2;
  } else {
    a = (CurveX[c - 1] + CurveX[c]) / 2;
    b = CurveX[c];
    e = m;
    ya = (CurveY[c - 1] + CurveY[c]) / 2;
    yb = CurveY[c];
    ye = (CurveY[c] + CurveY[c + 1]) / 2;
  }
  const double q = a - 2 * b + e;
  double t;
  if (std::fabs(q) < 0.0001) {
    t = e != a ? (x - a) / (e - a) : 0.5;
  } else {
    const double r = std::sqrt(std::fabs((b - a) * (b - a) - q * (a - x)));
    t = (-(b - a) + r) / q;
    if (!(t >= 0 && t <= 1)) t = (-(b - a) - r) / q;
  }
  const double y = (1 - t) * (1 - t) * ya + 2 * t * (1 - t) * yb + t * t * ye;
  if (!(y > 0)) return 0.0;
  return std::min(y, 1.0);
}

}  // namespace astrelon

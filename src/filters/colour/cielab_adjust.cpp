// "CIELAB Helligkeit + Kontrast": brightness, contrast and saturation changed in
// L*a*b* coordinates computed from the squared values above black (sRGB
// primaries, D65 white). The white point's weights are applied to the squared
// values, where their inverse is applied on the way back, so that neutral
// settings return the image.
#include <algorithm>
#include <cmath>

#include "filters/dialog/pixel_filter_frame.h"
#include "filters/dialog/pixel_filters.h"

namespace astrelon {

namespace {

// One pixel; v[0..2] are red, green and blue, changed in place.
struct TLabAdjust {
  double Black = 0, Range = 1, Range2 = 1;
  double Brightness = 0, Contrast = 1, Saturation = 1;

  // The new value of one XYZ component from its L*a*b* form g (old value x).
  double Back(double g, double x) const {
    if (g > 0.206893) return g * g * g * Range2;
    if (x > 0) return (g - 0.137931) * Range2 / 7.787;
    return x;
  }

  void operator()(double v[3]) const {
    double u[3];
    for (int k = 0; k < 3; ++k) {
      const double d = std::max(v[k] - Black, 0.0);
      u[k] = d * d;
    }
    u[0] *= 1.05211106084359;
    u[2] *= 0.91841701643048;
    const double X = 0.412453 * u[0] + 0.357580 * u[1] + 0.180423 * u[2];
    const double Y = 0.212671 * u[0] + 0.715160 * u[1] + 0.072169 * u[2];
    const double Z = 0.019334 * u[0] + 0.119193 * u[1] + 0.950227 * u[2];
    const double x = X / Range2, y = Y / Range2, z = Z / Range2;
    double L, a, b;
    if (y > 0.008856) {
      const double fy = std::cbrt(y);
      L = 116 * fy - 16;
      a = std::cbrt(x) - fy;
      b = fy - std::cbrt(z);
    } else {
      L = 903.3 * y;
      a = 7.787 * (x - y);
      b = 7.787 * (y - z);
    }
    const double L2 = std::max((L - 50) * Contrast + 50 + Brightness, 0.0);
    const double gy = (L2 + 16) / 116, gx = a * Saturation + gy, gz = gy - b * Saturation;
    const double X2 = Back(gx, X), Y2 = Back(gy, Y), Z2 = Back(gz, Z);
    const double out[3] = {(3.240479 * X2 - 1.53715 * Y2 - 0.498535 * Z2) * 0.95047,
                           -0.969256 * X2 + 1.875992 * Y2 + 0.041556 * Z2,
                           (0.055648 * X2 - 0.204043 * Y2 + 1.057311 * Z2) * 1.08883};
    for (int k = 0; k < 3; ++k) v[k] = (out[k] > 0 ? std::sqrt(out[k]) : out[k] / Range) + Black;
  }
};

}  // namespace

void AdjustCielab(TFilterCall& c) {
  TColorPlanes planes;
  if (!PrepareColorCall(c, planes)) return;
  const TBlackWhite bw = SourceBlackWhite(c.Source);
  TLabAdjust lab;
  lab.Black = bw.Black;
  lab.Range = std::max(bw.Range, 1.0);
  lab.Range2 = lab.Range * lab.Range;
  lab.Brightness = c.Value[1];
  lab.Contrast = c.Value[2];
  lab.Saturation = double(c.Value[3]) * 0.01;
  const int32_t W = planes.Width;
  const auto& in = planes.In;
  const auto& out = planes.Out;
  ForRectPixels(c, 1, W, [&](int64_t i) {
    if (!IsValidPixel(in[1][i])) return;
    double v[3] = {in[1][i], in[2][i], in[3][i]};
    lab(v);
    for (int k = 0; k < 3; ++k) out[size_t(k + 1)][i] = float(v[k]);
  });
}

}  // namespace astrelon

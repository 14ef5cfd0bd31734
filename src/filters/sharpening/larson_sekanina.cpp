// "Larson Sekanina": the rotational gradient that brings out jets and shells
// around a comet's nucleus. Each pixel is compared with the values at the same
// distance from the centre (plus a radial offset), turned by the angle one way
// and the other; with "Winkel glätten" the values along both arcs are averaged
// under a cosine window.
#include <cmath>
#include <numbers>

#include "filters/dialog/pixel_filter_frame.h"
#include "filters/dialog/pixel_filters.h"
#include "kernels/alignment/stars/find_star_centroid.h"
#include "kernels/sampling/subpixel_samplers.h"
#include "shell/windows/image_window_state.h"

namespace astrelon {

std::array<float, 4> LarsonSekaninaLevels{};

namespace {

// Window over t = -127..128 (index t + 127): cos(t pi / 128) + 1.
struct TArcWindow {
  std::array<double, 256> W{};
  TArcWindow() {
    for (int t = -127; t <= 128; ++t) W[size_t(t + 127)] = std::cos(t * std::numbers::pi / 128) + 1;
  }
  double operator()(double t) const { return W[size_t(std::clamp(int(std::nearbyint(t)), -127, 128) + 127)]; }
};

struct TRotation {
  int Slot = 0, Plane = 1;
  int32_t Width = 0, Height = 0;
  double Cx = 0, Cy = 0, R0 = 0, Delta = 0, Background = 0;
  bool Smooth = false;
  const TArcWindow* Window = nullptr;

  // The new value of pixel (x, y) of value s.
  float operator()(int32_t x, int32_t y, float s) const {
    const double dx = x - Cx, dy = y - Cy;
    const double theta = std::atan2(dy, dx);
    const double rho = std::sqrt(dx * dx + dy * dy) + R0;
    double step = rho <= 1 ? 1.0 : 1.0 / rho;
    double n = 1000;
    if (Smooth && Delta > 0) {
      n = 127 * step / Delta;
      const double m = std::max(rho * Delta * 0.01, 1.0);
      if (n > 63.5) {
        step = 0.5 * Delta;
        n = 63.5;
      } else if (n < m) {
        step = 0.007874 * m * Delta;
        n = m;
      }
    }
    double wsum = 0, vsum = 0;
    for (int pass = 0; pass < 2; ++pass) {
      const double start = Smooth ? theta : (pass == 0 ? theta - Delta : theta + Delta);
      double t = Smooth ? -127 : 0;
      double px = Cx + rho * std::cos(start), py = Cy + rho * std::sin(start);
      do {
        const bool inside = px >= 0 && px <= Width - 1 && py >= 0 && py <= Height - 1;
        const float v = inside ? InterpolatePixel(Slot, Plane, float(px), float(py)) : BlankPixel;
        const double w = (*Window)(t);
        wsum += w;
        vsum += w * (IsValidPixel(v) ? double(v) : Background);
        t += n;
        if (pass == 0) {
          px += (py - Cy) * step;
          py -= (px - Cx) * step;
        } else {
          px -= (py - Cy) * step;
          py += (px - Cx) * step;
        }
      } while (t <= 127);
    }
    return wsum <= 0 ? s : float((s - vsum / wsum) * 2.0 + Background);
  }
};

}  // namespace

void LarsonSekanina(TFilterCall& c) {
  if (!PrepareCall(c)) return;
  static const TArcWindow window;
  // The centre: the object the brightest place of the source window's
  // selection (or its mark) belongs to, the comet's head.
  const TWorkRect saved = WorkRect;
  SetWorkRectFromWindow(c.Source, 1, true);
  const TWorkRect around = WorkRect;
  TStarSearchOptions object;
  object.Rule = TBoxRule::Comet;
  FindStarCentroid(c.Source, around, -1.0f, 1, object);
  WorkRect = saved;
  const int32_t tool = ToolMode;
  ToolMode = 0;

  TCallPlanes planes(c);
  TRotation rot;
  rot.Slot = c.Source;
  rot.Width = planes.Src.Width;
  rot.Height = planes.Src.Height;
  rot.Cx = StarPosition.X;
  rot.Cy = StarPosition.Y;
  rot.R0 = c.Value[1];
  rot.Delta = double(c.Value[2]) * std::numbers::pi / 180;
  rot.Smooth = c.Checked[1];
  rot.Window = &window;
  const TWorkRect r = c.Rect;
  const int32_t W = planes.Src.Width;
  CopyUnselectedPlanes(c);
  for (int p = 1; p <= 3; ++p) {
    if (!c.Planes[size_t(p)] || !planes.Usable(p)) continue;
    rot.Plane = p;
    rot.Background = LarsonSekaninaLevels[size_t(p)];
    const float* in = planes.In(p);
    float* out = planes.Out(p);
    const bool go = ForRectRows(c, p, [&](int64_t y0, int64_t y1) {
      for (int64_t y = y0; y < y1; ++y)
        for (int32_t x = r.x1; x <= r.x2; ++x) {
          const float s = in[y * W + x];
          if (IsValidPixel(s)) out[y * W + x] = rot(x, int32_t(y), s);
        }
    });
    if (!go) break;
  }
  ToolMode = tool;
}

}  // namespace astrelon

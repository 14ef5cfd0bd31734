#include "frequency/speckle/speckle_response.h"

#include <algorithm>
#include <cmath>

#include "store/image_store.h"

namespace astrelon {

TSpeckleResponse ClampSpeckleResponse(double a, double b) {
  TSpeckleResponse r;
  r.A = std::isnan(a) ? 0.1 : std::clamp(a, 0.1, 15.0);
  r.B = std::isnan(b) ? 0.1 : std::clamp(b, 0.1, 255.0);
  r.AClamped = !(r.A == a);
  r.BClamped = !(r.B == b);
  return r;
}

std::array<double, 1024> SpeckleResponseTable(double a, double b) {
  std::array<double, 1024> t{};
  const double q = (3.3 / b + 1) / b;
  for (int i = 0; i < 1024; ++i) {
    const double rho = i * a / 1023;
    if (rho >= 1) continue;
    const double l = std::exp(-3.44 * std::pow((b + 1) * 0.5 * rho, 5.0 / 3.0));
    const double e = std::exp(-2.5 * b * (1 - 0.5 * rho));
    const double g = std::exp((rho - 1) * 50 / a);
    t[size_t(i)] = (1 - g) * (1 + q) / (std::sqrt(e * e + l * l * l * l) + q);
  }
  return t;
}

bool AdjustSpeckleFrequencyResponse(int source, int destination, const TSpeckleResponse& response) {
  if (!SlotInUse(source) || !SlotInUse(destination)) return false;
  const TImageSlot& s = Store.Image[size_t(source)];
  TImageSlot& d = Store.Image[size_t(destination)];
  const int32_t W = s.Width, H = s.Height, half = W / 2;
  if (W < 2 || H < 1 || d.Width != W || d.Height != H || d.PlaneCount != s.PlaneCount) return false;
  for (int p = 1; p <= s.PlaneCount; ++p)
    if (s.Planes[size_t(p)].size() < s.PixelCount() || d.Planes[size_t(p)].size() < s.PixelCount()) return false;
  const std::array<double, 1024> t = SpeckleResponseTable(response.A, response.B);
  for (int32_t y = 0; y < H; ++y) {
    const double ry = (y - H / 2) / double(std::max(H / 2, 1));
    for (int32_t x = 0; x < half; ++x) {
      const double rx = x / double(half);
      const double r2 = rx * rx + ry * ry;
      double gain = t[1023];
      if (r2 < 1) {
        const double at = std::sqrt(r2) * 1023;
        const int32_t i = std::min(int32_t(at), 1022);
        const double f = at - i;
        gain = t[size_t(i)] * (1 - f) + t[size_t(i) + 1] * f;
      }
      for (int p = 1; p <= s.PlaneCount; ++p) {
        const size_t at = size_t(y) * size_t(W) + size_t(x);
        d.Planes[size_t(p)][at] = float(s.Planes[size_t(p)][at] * gain);
        d.Planes[size_t(p)][at + size_t(half)] = float(s.Planes[size_t(p)][at + size_t(half)] * gain);
      }
    }
  }
  return true;
}

}  // namespace astrelon

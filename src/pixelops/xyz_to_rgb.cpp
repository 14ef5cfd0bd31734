#include "pixelops/xyz_to_rgb.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "store/image_store.h"
#include "store/planes/pixel_blocks.h"

namespace astrelon {

namespace {

// Positive components are compressed by the square root; zero and negative ones stay.
inline double Compress(double c) { return c > 0 ? std::sqrt(c) : c; }

// The display point v under the same mapping; a point below b maps to b.
float MapDisplayPoint(float v, double b, double r) {
  return float(std::sqrt(std::max(0.0, (double(v) - b) / r)) * r + b);
}

}  // namespace

void XyzToRgbRun(std::span<float> x, std::span<float> y, std::span<float> z, double b, double r) {
  if (y.size() != x.size() || z.size() != x.size()) throw std::invalid_argument("colour planes of different lengths");
  for (size_t i = 0; i < x.size(); ++i) {
    if (!IsValidPixel(x[i]) || !IsValidPixel(y[i]) || !IsValidPixel(z[i])) continue;
    // Normalised values scaled to the D65 white point.
    const double xn = (double(x[i]) - b) * 0.95047 / r;
    const double yn = (double(y[i]) - b) / r;
    const double zn = (double(z[i]) - b) * 1.08883 / r;
    const double red = 3.240479 * xn - 1.53715 * yn - 0.498535 * zn;
    const double green = -0.969256 * xn + 1.875992 * yn + 0.041556 * zn;
    const double blue = 0.055648 * xn - 0.204043 * yn + 1.057311 * zn;
    x[i] = float(Compress(red) * r + b);
    y[i] = float(Compress(green) * r + b);
    z[i] = float(Compress(blue) * r + b);
  }
}

bool ConvertXyzToRgb(int slot, bool adjustDisplay) {
  if (!SlotInUse(slot)) return false;
  TImageSlot& im = Store.Image[slot];
  const size_t n = im.PixelCount();
  if (!im.IsColor || im.PlaneCount < 3 || im.Planes[1].size() < n || im.Planes[2].size() < n ||
      im.Planes[3].size() < n)
    return false;
  const double b = std::min(double(im.MinValue), 0.0);
  const double r = double(im.MaxValue) - b;
  if (!(r > 0)) return false;
  const auto scans = TransformPixelBlocks(im, 3, [&](size_t first, size_t count) {
    XyzToRgbRun(im.Plane(1).subspan(first, count), im.Plane(2).subspan(first, count),
                im.Plane(3).subspan(first, count), b, r);
  });
  SetMinMaxFromScans(slot, scans);
  TDisplayRecord& d = Store.Display[slot];
  if (adjustDisplay) {
    if (double(d.Black) > b) d.Black = MapDisplayPoint(d.Black, b, r);
    d.White = MapDisplayPoint(d.White, b, r);
  }
  im.ColorModel = CmRgb;
  d.DisplayType = DtColorRgb;
  SetCtype3Card(slot);
  return true;
}

}  // namespace astrelon

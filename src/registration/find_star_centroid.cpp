#include "registration/find_star_centroid.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "store/display/display_histogram.h"
#include "store/planes/image_statistics.h"
#include "store/planes/plane_routines.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

TStarPosition StarPosition;
int32_t StarAperture = 1;

namespace {
constexpr int32_t CentroidReach = 15;
}  // namespace

void FindStarCentroid(int slot, TWorkRect rect, float threshold, int32_t aperture) {
  if (!SlotInUse(slot)) return;
  const TImageSlot& im = Store.Image[size_t(slot)];
  const int p = std::clamp(GetRgbCode(slot), 1, std::max(1, std::min(im.PlaneCount, 3)));
  if (im.Width < 1 || im.Height < 1 || im.Planes[size_t(p)].size() < im.PixelCount()) return;
  rect.x1 = std::clamp(rect.x1, 0, im.Width - 1);
  rect.x2 = std::clamp(rect.x2, rect.x1, im.Width - 1);
  rect.y1 = std::clamp(rect.y1, 0, im.Height - 1);
  rect.y2 = std::clamp(rect.y2, rect.y1, im.Height - 1);
  WorkRect = rect;
  float t = threshold < 0 ? EstimatePlaneNoise(slot, p) : threshold;
  if (!(t > 0.01f)) t = 0.01f;

  const std::span<const float> plane = im.Planes[size_t(p)];
  int32_t bx = 0, by = 0;
  float peak = 0;
  FindBrightestPixel(plane.subspan(size_t(rect.y1) * im.Width + rect.x1), rect.x2 - rect.x1 + 1,
                     rect.y2 - rect.y1 + 1, im.Width, std::max(aperture, 0), bx, by, peak, false);
  bx += rect.x1;
  by += rect.y1;
  StarPosition = {float(bx), float(by)};

  // The star's pixels: within 15 pixels, above the window's background (its
  // 20 % level) by a fifth of the peak's height and by three times the noise.
  const int32_t xa = std::max(0, bx - CentroidReach), xb = std::min(im.Width - 1, bx + CentroidReach);
  const int32_t ya = std::max(0, by - CentroidReach), yb = std::min(im.Height - 1, by + CentroidReach);
  std::vector<float> values;
  float top = -1e30f;
  for (int32_t y = ya; y <= yb; ++y)
    for (int32_t x = xa; x <= xb; ++x) {
      const float v = plane[size_t(y) * im.Width + x];
      if (!IsValidPixel(v)) continue;
      values.push_back(v);
      top = std::max(top, v);
    }
  if (values.empty()) return;
  const double background = Percentile(values, 0.2);
  const double level = background + std::max(0.2 * (top - background), 3.0 * t);
  double sw = 0, sx = 0, sy = 0;
  int32_t count = 0;
  for (int32_t y = ya; y <= yb; ++y)
    for (int32_t x = xa; x <= xb; ++x) {
      const float v = plane[size_t(y) * im.Width + x];
      if (!IsValidPixel(v) || v <= level) continue;
      const double w = v - level;
      sw += w;
      sx += w * x;
      sy += w * y;
      ++count;
    }
  if (sw <= 0) return;
  StarPosition = {float(sx / sw), float(sy / sw)};
  StarAperture = std::clamp(int32_t(std::nearbyint(std::sqrt(count / 3.14159265358979))), 1, 5);
}

}  // namespace astrelon

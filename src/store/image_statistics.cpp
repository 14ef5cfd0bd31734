#include "store/image_statistics.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "store/image_store.h"
#include "store/plane_routines.h"
#include "store/processor_features.h"

namespace astrelon {

void GetPercentileLevels(int slot, int plane, int x1, int x2, int y1, int y2, double pctA, double pctB,
                         TPercentileLevels& levels) {
  if (!SlotInUse(slot)) return;
  TImageSlot& im = Store.Image[slot];
  if (plane < 1 || plane > im.PlaneCount) plane = 1;
  if (im.Planes[plane].empty() || im.Planes[plane].size() < im.PixelCount() || im.PixelCount() == 0) return;
  levels.LevelA = im.PlaneMin[plane];
  levels.LevelB = levels.LevelA;
  levels.RectMin = im.PlaneMin[plane];
  levels.RectMax = im.PlaneMax[plane];
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, im.Width - 1);
  y2 = std::min(y2, im.Height - 1);
  if (x2 < x1 || y2 < y1) return;
  const int32_t w = x2 - x1 + 1, h = y2 - y1 + 1;
  std::span<float> rect = im.Plane(plane).subspan(size_t(y1) * size_t(im.Width) + size_t(x1));
  float mn, mx;
  RectMinMax(rect, w, h, im.Width, mn, mx, Sse2Enabled);
  const double range = std::max(double(mx) - double(mn), 0.001);
  const double scale = 65000.0 / range;
  std::vector<int64_t> bins(65536, 0);
  int64_t count = 0;
  for (int32_t y = 0; y < h; ++y) {
    const float* row = rect.data() + int64_t(y) * im.Width;
    for (int32_t x = 0; x < w; ++x)
      if (IsValidPixel(row[x])) {
        double b = std::nearbyint((double(row[x]) - mn) * scale);
        b = std::clamp(b, 0.0, 65535.0);
        ++bins[size_t(b)];
        ++count;
      }
  }
  if (count == 0) return;
  levels.RectMin = mn;
  levels.RectMax = mx;
  auto level = [&](double p) {
    const int64_t target = int64_t(std::nearbyint(double(count) * p)) / 100;
    int bin;
    if (p < 50) {
      int64_t sum = 0;
      for (bin = 0; bin < 65000; ++bin) {
        sum += bins[size_t(bin)];
        if (sum >= target) break;
      }
    } else {
      int64_t rest = count;
      for (bin = 65000; bin > 0; --bin) {
        rest -= bins[size_t(bin)];
        if (rest <= target) break;
      }
    }
    return bin / scale + mn;
  };
  levels.LevelA = level(pctA);
  levels.LevelB = std::fabs(pctB - pctA) <= 1e-9 ? levels.LevelA : level(pctB);
}

}  // namespace astrelon

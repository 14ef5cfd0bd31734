#include "pixelops/subpixel_samplers.h"

#include <cmath>

#include "store/image_store.h"

namespace astrelon {

namespace {
const TImageSlot* PlaneOf(int slot, int plane) {
  if (!SlotInUse(slot) || plane < 1 || plane > 3) return nullptr;
  const TImageSlot& im = Store.Image[size_t(slot)];
  return im.Planes[size_t(plane)].size() >= im.PixelCount() && im.Width > 0 ? &im : nullptr;
}
}  // namespace

float InterpolatePixel(int slot, int plane, float x, float y) {
  const TImageSlot* im = PlaneOf(slot, plane);
  if (!im || !(std::fabs(x) < 1e9f) || !(std::fabs(y) < 1e9f)) return BlankPixel;
  x = std::max(x, 0.0f);
  y = std::max(y, 0.0f);
  const int32_t ix = int32_t(x), iy = int32_t(y);
  const float fx = x - ix, fy = y - iy;
  double v = 0, w = 0;
  for (int dy = 0; dy <= 1; ++dy)
    for (int dx = 0; dx <= 1; ++dx) {
      const int32_t px = ix + dx, py = iy + dy;
      if (px >= im->Width || py >= im->Height) continue;
      const float s = im->Planes[size_t(plane)][size_t(py) * im->Width + px];
      const double k = (dx ? fx : 1 - fx) * (dy ? fy : 1 - fy);
      if (!IsValidPixel(s) || k == 0) continue;
      v += k * s;
      w += k;
    }
  return w > 0.3 ? float(v / w) : BlankPixel;
}

float SampleAlongRowLinear(int slot, int plane, int32_t row, float x) {
  const TImageSlot* im = PlaneOf(slot, plane);
  if (!im || row < 0 || row >= im->Height || !(std::fabs(x) < 1e9f)) return BlankPixel;
  const float* line = im->Planes[size_t(plane)].data() + size_t(row) * im->Width;
  const int32_t ix = int32_t(x);
  const float fx = x - float(ix);
  float W = 0, V = 0;
  if (ix >= 0 && ix < im->Width && IsValidPixel(line[ix])) {
    W += 1 - fx;
    V += (1 - fx) * line[ix];
  }
  if (ix > -2 && ix < im->Width - 1 && IsValidPixel(line[ix + 1])) {
    W += fx;
    V += fx * line[ix + 1];
  }
  return W > 0.3f ? V / W : BlankPixel;
}

}  // namespace astrelon

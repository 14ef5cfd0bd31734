#include "store/display/render_image_bitmap.h"

#include <algorithm>
#include <cmath>

#include "store/display/colour_tables.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// The product in 64 bits, as the rounding to whole numbers expects it: in 32
// bits a value just off a half would round the other way.
inline uint8_t RenderByte(float v, double factor) {
  double s = double(v) * factor;
  if (!(s == s)) s = 0;  // blank NaN
  s = std::clamp(s, -1e7, 1e7);
  return uint8_t(std::clamp(std::nearbyint(s), 0.0, 255.0));
}

}  // namespace

double RenderFactor(double maximum) { return maximum > 0 ? 255.0 / maximum : 1.0; }

float ImageMaximum(int slot) {
  if (!SlotInUse(slot)) return 0;
  const TImageSlot& im = Store.Image[size_t(slot)];
  float hi = BlankLimit;
  for (int p = 1; p <= im.PlaneCount && p <= 3; ++p)
    for (float v : im.Plane(p).first(std::min(im.Planes[size_t(p)].size(), im.PixelCount())))
      if (IsValidPixel(v) && v > hi) hi = v;
  return IsValidPixel(hi) ? hi : 0.0f;
}

void RenderPlaneToBitmap(std::span<const float> plane, int32_t width, int32_t height, double factor,
                         TDisplayBitmap& bitmap) {
  bitmap.Resize(width, height, TBitmapFormat::Indexed8);
  for (int i = 0; i < 256; ++i) bitmap.ColourTable[size_t(i)] = PackRgb(uint32_t(i), uint32_t(i), uint32_t(i));
  for (int32_t y = 0; y < height; ++y) {
    const float* in = plane.data() + size_t(y) * size_t(width);
    uint8_t* out = bitmap.Row(y).data();
    for (int32_t x = 0; x < width; ++x) out[x] = RenderByte(in[x], factor);
  }
}

bool RenderImageToBitmap(int slot, double factor, TDisplayBitmap& bitmap) {
  bitmap.Clear();
  if (!SlotInUse(slot)) return false;
  const TImageSlot& im = Store.Image[size_t(slot)];
  const bool colour = im.IsColor && im.PlaneCount >= 3;
  const int planes = colour ? 3 : 1;
  if (im.Width < 1 || im.Height < 1) return false;
  for (int p = 1; p <= planes; ++p)
    if (im.Planes[size_t(p)].size() < im.PixelCount()) return false;
  if (!colour) {
    RenderPlaneToBitmap(im.Plane(1), im.Width, im.Height, factor, bitmap);
    return true;
  }
  bitmap.Resize(im.Width, im.Height, TBitmapFormat::Bgr24);
  for (int y = 0; y < im.Height; ++y) {
    const auto r = im.Row(1, y), g = im.Row(2, y), b = im.Row(3, y);
    uint8_t* out = bitmap.Row(y).data();
    for (int x = 0; x < im.Width; ++x, out += 3) {
      out[0] = RenderByte(b[size_t(x)], factor);
      out[1] = RenderByte(g[size_t(x)], factor);
      out[2] = RenderByte(r[size_t(x)], factor);
    }
  }
  return true;
}

}  // namespace astrelon

#include "kernels/sampling/pixel_access.h"

#include "store/image_store.h"

namespace astrelon {

namespace {
// The pixel's place in the plane, or nullptr when (x, y) lies outside.
float* PixelAddress(int slot, int plane, int32_t x, int32_t y) {
  if (slot < 0 || slot >= SlotArraySize || plane < 1 || plane > 3) return nullptr;
  TImageSlot& im = Store.Image[size_t(slot)];
  if (x < 0 || y < 0 || x >= im.Width || y >= im.Height) return nullptr;
  if (im.Planes[size_t(plane)].size() < im.PixelCount()) return nullptr;
  return &im.At(plane, x, y);
}
}  // namespace

float GetPixelValue(int slot, int plane, int32_t x, int32_t y) {
  const float* v = PixelAddress(slot, plane, x, y);
  return v ? *v : BlankPixel;
}

void SetPixelValue(int slot, int plane, int32_t x, int32_t y, float value) {
  if (float* v = PixelAddress(slot, plane, x, y)) *v = value;
}

}  // namespace astrelon

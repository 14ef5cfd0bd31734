#include "pixelops/geometry/find_blank_margins.h"

#include <algorithm>

#include "kernels/regions/crop_image_rect.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

bool Blank(float v) { return !(v > -1e9f); }

}  // namespace

TBlankMargins FindBlankMargins(int slot) {
  TBlankMargins m;
  if (!SlotInUse(slot)) return m;
  const TImageSlot& im = Store.Image[size_t(slot)];
  const int32_t w = im.Width, h = im.Height;
  const int planes = std::clamp(im.PlaneCount, 1, 3);
  if (w < 1 || h < 1) return m;
  for (int p = 1; p <= planes; ++p)
    if (im.Planes[size_t(p)].size() < im.PixelCount()) return m;
  auto rowBlank = [&](int32_t y) {
    for (int p = 1; p <= planes; ++p) {
      const float* row = im.Planes[size_t(p)].data() + int64_t(y) * w;
      if (!std::all_of(row, row + w, Blank)) return false;
    }
    return true;
  };
  auto columnBlank = [&](int32_t x) {
    for (int p = 1; p <= planes; ++p) {
      const float* plane = im.Planes[size_t(p)].data();
      for (int32_t y = 0; y < h; ++y)
        if (!Blank(plane[int64_t(y) * w + x])) return false;
    }
    return true;
  };
  const int32_t midY = h / 2, midX = w / 2;
  while (m.Top <= midY && rowBlank(m.Top)) ++m.Top;
  while (m.Bottom <= midY && rowBlank(h - 1 - m.Bottom)) ++m.Bottom;
  while (m.Left <= midX && columnBlank(m.Left)) ++m.Left;
  while (m.Right <= midX && columnBlank(w - 1 - m.Right)) ++m.Right;
  return m;
}

bool TrimBlankEdges(int slot) {
  const TBlankMargins m = FindBlankMargins(slot);
  if (m.Sum() <= 0) return false;
  const TImageSlot& im = Store.Image[size_t(slot)];
  return CropImageRect(slot, slot, m.Left, m.Top, im.Width - 1 - m.Right, im.Height - 1 - m.Bottom);
}

}  // namespace astrelon

#include "kernels/regions/add_border.h"

#include <algorithm>
#include <array>
#include <new>

#include "platform/memory_probe.h"
#include "store/image_store.h"

namespace astrelon {

bool AddBorder(int slot, int32_t top, int32_t bottom, int32_t left, int32_t right, float fill) {
  if (!SlotInUse(slot)) return false;
  TImageSlot& im = Store.Image[slot];
  const int planes = std::clamp(im.PlaneCount, 1, 3);
  if (im.Width < 1 || im.Height < 1) return false;
  for (int p = 1; p <= planes; ++p)
    if (im.Planes[p].size() < im.PixelCount()) return false;
  top = std::max(top, 0), bottom = std::max(bottom, 0), left = std::max(left, 0), right = std::max(right, 0);
  const int64_t w = int64_t(im.Width) + left + right, h = int64_t(im.Height) + top + bottom;
  if (w == im.Width && h == im.Height) return true;
  if (!NewPlanesFit(w, h, planes)) throw std::bad_alloc();
  const uint64_t values = uint64_t(w) * uint64_t(h);
  std::array<TPlane, 4> grown;
  for (int p = 1; p <= planes; ++p) {
    TPlane& out = grown[size_t(p)];
    out.assign(size_t(values), fill);
    for (int32_t y = 0; y < im.Height; ++y)
      std::copy_n(im.Planes[p].data() + int64_t(y) * im.Width, im.Width, out.data() + (y + top) * w + left);
  }
  for (int p = 1; p <= planes; ++p) im.Planes[p].swap(grown[size_t(p)]);
  im.Width = int32_t(w);
  im.Height = int32_t(h);
  return true;
}

}  // namespace astrelon

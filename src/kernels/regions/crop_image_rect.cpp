#include "kernels/regions/crop_image_rect.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

bool CropImageRect(int src, int dst, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  if (src < 0 || src >= SlotArraySize || !Store.InUse[size_t(src)]) return false;
  if (dst < 1 || dst >= SlotArraySize) return false;
  TImageSlot& s = Store.Image[size_t(src)];
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, s.Width - 1);
  y2 = std::min(y2, s.Height - 1);
  if (x2 < x1 || y2 < y1) return false;
  const int planes = std::clamp(s.PlaneCount, 1, 3);
  for (int p = 1; p <= planes; ++p)
    if (s.Planes[size_t(p)].size() < s.PixelCount()) return false;
  const int32_t w = x2 - x1 + 1, h = y2 - y1 + 1;
  const size_t W = size_t(s.Width);

  if (src == dst) {
    for (int p = 1; p <= planes; ++p) {
      TPlane& plane = s.Planes[size_t(p)];
      // Each target row lies at or before its source row, so rising order is safe.
      if (!(w == s.Width && y1 == 0))
        for (int32_t r = 0; r < h; ++r)
          std::memmove(plane.data() + size_t(r) * size_t(w), plane.data() + size_t(y1 + r) * W + size_t(x1),
                       size_t(w) * sizeof(float));
      plane.resize(size_t(w) * size_t(h));
      plane.shrink_to_fit();
    }
  } else {
    std::array<TPlane, 4> cut;
    for (int p = 1; p <= planes; ++p) {
      cut[size_t(p)].resize(size_t(w) * size_t(h));
      for (int32_t r = 0; r < h; ++r)
        std::copy_n(s.Planes[size_t(p)].data() + size_t(y1 + r) * W + size_t(x1), size_t(w),
                    cut[size_t(p)].data() + size_t(r) * size_t(w));
    }
    CopyHeaderCards(src, dst);
    TImageSlot& d = Store.Image[size_t(dst)];
    d.IsColor = s.IsColor;
    d.PlaneCount = s.PlaneCount;
    Store.InUse[size_t(dst)] = 1;
    for (int p = 1; p <= 3; ++p) d.Planes[size_t(p)] = std::move(cut[size_t(p)]);
  }
  TImageSlot& d = Store.Image[size_t(dst)];
  d.Width = w;
  d.Height = h;
  d.ColorModel = s.ColorModel;
  d.RawFilterPattern = 0;
  return true;
}

}  // namespace astrelon

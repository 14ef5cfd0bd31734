#include "registration/brightest_in_work_rect.h"

#include <algorithm>

#include "store/image_store.h"
#include "store/planes/plane_routines.h"

namespace astrelon {

TBrightestInRect FindBrightestInWorkRect(int slot, int plane, int32_t radius) {
  TBrightestInRect result;
  result.BrightestValue = BlankLimit;
  if (slot < 0 || slot >= SlotArraySize || plane < 1 || plane > 3) return result;
  const TImageSlot& im = Store.Image[size_t(slot)];
  WorkRect.x1 = std::max(WorkRect.x1, 0);
  WorkRect.y1 = std::max(WorkRect.y1, 0);
  WorkRect.x2 = std::min(WorkRect.x2, im.Width - 1);
  WorkRect.y2 = std::min(WorkRect.y2, im.Height - 1);
  const TWorkRect& r = WorkRect;
  result.BrightestX = std::clamp(r.x1, 0, std::max(im.Width - 1, 0));
  result.BrightestY = std::clamp(r.y1, 0, std::max(im.Height - 1, 0));
  const std::span<const float> data = im.Plane(plane);
  if (r.x2 < r.x1 || r.y2 < r.y1 || data.size() < im.PixelCount()) return result;
  const size_t first = size_t(r.y1) * size_t(im.Width) + size_t(r.x1);
  int32_t x = 0, y = 0;
  float value = BlankLimit;
  FindBrightestPixel(data.subspan(first), r.x2 - r.x1 + 1, r.y2 - r.y1 + 1, im.Width, radius, x, y, value, false);
  result.BrightestX = r.x1 + x;
  result.BrightestY = r.y1 + y;
  result.BrightestValue = value;
  return result;
}

}  // namespace astrelon

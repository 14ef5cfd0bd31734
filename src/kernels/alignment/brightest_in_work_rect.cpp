#include "kernels/alignment/brightest_in_work_rect.h"

#include <algorithm>

#include "core/settings.h"
#include "kernels/alignment/box_search.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/image_store.h"

namespace astrelon {

void ClipWorkRect(const TImageSlot& im) {
  WorkRect.x1 = std::max(WorkRect.x1, 0);
  WorkRect.y1 = std::max(WorkRect.y1, 0);
  WorkRect.x2 = std::min(WorkRect.x2, im.Width - 1);
  WorkRect.y2 = std::min(WorkRect.y2, im.Height - 1);
}

TBrightestInRect FindBrightestInWorkRect(int slot, int plane, int32_t radius) {
  TBrightestInRect result;
  result.BrightestValue = BlankLimit;
  if (slot < 0 || slot >= SlotArraySize || plane < 1 || plane > 3) return result;
  const TImageSlot& im = Store.Image[size_t(slot)];
  ClipWorkRect(im);
  const TWorkRect& r = WorkRect;
  result.BrightestX = std::clamp(r.x1, 0, std::max(im.Width - 1, 0));
  result.BrightestY = std::clamp(r.y1, 0, std::max(im.Height - 1, 0));
  const std::span<const float> plane_ = im.Plane(plane);
  if (r.x2 < r.x1 || r.y2 < r.y1 || plane_.size() < im.PixelCount() || radius < 0) return result;
  const std::span<const float> data = plane_.subspan(size_t(r.y1) * size_t(im.Width) + size_t(r.x1));
  const int32_t w = r.x2 - r.x1 + 1, h = r.y2 - r.y1 + 1;
  const int64_t stride = im.Width;

  // Bands of centre columns on threads of their own, each reading the rows of its columns.
  const int64_t minColumns = std::max<int64_t>(16, (int64_t(1) << 18) / std::max(h, 1));
  const int threads = BandThreads(int64_t(w) - 2 * int64_t(radius), minColumns, Options.Multicore != 0);
  int32_t x = 0, y = 0;
  float value = BlankLimit;
  FindBrightestBox(data, w, h, stride, radius, x, y, value, Sse2Enabled, threads);
  result.BrightestX = r.x1 + x;
  result.BrightestY = r.y1 + y;
  result.BrightestValue = value;
  return result;
}

}  // namespace astrelon

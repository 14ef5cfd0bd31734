#include "kernels/regions/rect_runs.h"

#include <algorithm>

#include "core/settings.h"
#include "store/display/display_histogram.h"

namespace astrelon {

TPlaneList AllPlanes(int slot) {
  TPlaneList list;
  if (slot < 0 || slot >= SlotArraySize) return list;
  const int n = std::clamp(Store.Image[size_t(slot)].PlaneCount, 0, 3);
  for (int p = 1; p <= n; ++p) list.Plane[size_t(list.Count++)] = p;
  return list;
}

TPlaneList SelectedChannels(int slot) {
  TPlaneList list;
  if (slot < 0 || slot >= SlotArraySize) return list;
  const int n = std::clamp(Store.Image[size_t(slot)].PlaneCount, 0, 3);
  for (int p = FirstChannel(slot); p <= n; NextChannel(slot, p)) list.Plane[size_t(list.Count++)] = p;
  return list;
}

TClippedRect ClipRectToSlot(int slot, const TWorkRect& rect) {
  TClippedRect r;
  if (slot < 0 || slot >= SlotArraySize) return r;
  const TImageSlot& im = Store.Image[size_t(slot)];
  if (im.Width < 1 || im.Height < 1) return r;
  r.x1 = std::max(rect.x1, 0);
  r.y1 = std::max(rect.y1, 0);
  r.x2 = std::min(rect.x2, im.Width - 1);
  r.y2 = std::min(rect.y2, im.Height - 1);
  return r;
}

int RectRunThreads(const TClippedRect& r, int planeCount) {
  const int64_t rows = int64_t(r.Height()) * planeCount;
  const int64_t rowsPerThread = std::max<int64_t>(1, (int64_t(1) << 16) / std::max(r.Width(), 1));
  return BandThreads(rows, rowsPerThread, Options.Multicore != 0);
}

}  // namespace astrelon

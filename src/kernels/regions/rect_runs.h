#pragma once
// Loops of the value operations over the working rectangle of a slot: the planes
// an operation works on (every plane, or the channels the window's channel
// selection enables), the rectangle clipped to the image, and the rows of the
// rectangle in those planes split into bands of rows over the processor cores.
// Each pixel is handled exactly as in a single loop, so results do not depend on
// the number of threads.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/parallel_bands.h"
#include "store/image_store.h"

namespace astrelon {

// Plane numbers (1..3) in rising order.
struct TPlaneList {
  std::array<int32_t, 3> Plane{};
  int32_t Count = 0;
  std::span<const int32_t> Planes() const { return std::span<const int32_t>(Plane).first(size_t(Count)); }
};

// Planes 1 .. plane count of the slot (at most 3).
TPlaneList AllPlanes(int slot);
// The planes of a per-channel operation: FirstChannel / NextChannel up to the
// plane count (plane 1 of a grey image).
TPlaneList SelectedChannels(int slot);

// The working rectangle clipped to the slot's image; Empty() when nothing of it
// lies inside (or the slot has no pixels).
struct TClippedRect {
  int32_t x1 = 0, x2 = -1, y1 = 0, y2 = -1;
  bool Empty() const { return x2 < x1 || y2 < y1; }
  int32_t Width() const { return x2 - x1 + 1; }
  int32_t Height() const { return y2 - y1 + 1; }
};
TClippedRect ClipRectToSlot(int slot, const TWorkRect& rect);

// Threads for a loop over the rectangle in that many planes: each gets at least
// about 64 K pixels.
int RectRunThreads(const TClippedRect& r, int planeCount);

// Calls fn(plane, run) for the part of every row of the rectangle in each listed
// plane, run being the row's pixels x1..x2. Planes without all their pixels are
// passed over. Bands of (plane, row) pairs run on threads of their own unless the
// "Multicores" option is off.
template <typename F>
void ForEachRectRun(int slot, const TPlaneList& planes, const TWorkRect& rect, F&& fn) {
  const TClippedRect r = ClipRectToSlot(slot, rect);
  if (r.Empty()) return;
  TImageSlot& im = Store.Image[size_t(slot)];
  std::vector<int32_t> usable;
  for (int32_t p : planes.Planes())
    if (im.Planes[size_t(p)].size() >= im.PixelCount()) usable.push_back(p);
  if (usable.empty()) return;
  const int64_t rows = int64_t(r.Height());
  const int64_t count = rows * int64_t(usable.size());
  ForEachBand(count, RectRunThreads(r, int(usable.size())), [&](int64_t first, int64_t last) {
    for (int64_t k = first; k < last; ++k) {
      const int32_t p = usable[size_t(k / rows)];
      const int32_t y = r.y1 + int32_t(k % rows);
      fn(p, im.Row(p, y).subspan(size_t(r.x1), size_t(r.Width())));
    }
  });
}

}  // namespace astrelon

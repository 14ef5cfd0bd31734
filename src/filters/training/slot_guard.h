#pragma once
// The images a training works on, as they were when it started: the loop
// stops when one of them was closed or replaced meanwhile (events run while
// it trains).
#include <algorithm>
#include <vector>

#include "store/image_store.h"

namespace astrelon {

class TSlotGuard {
public:
  void Watch(int slot) {
    if (SlotInUse(slot))
      slots_.push_back({slot, Store.Image[size_t(slot)].Width, Store.Image[size_t(slot)].Height,
                        Store.Image[size_t(slot)].PlaneCount});
    else
      slots_.push_back({slot, -1, -1, -1});
  }
  // Every watched slot is in use with its size and planes.
  bool Intact() const {
    for (const TWatched& w : slots_) {
      if (!SlotInUse(w.Slot)) return false;
      const TImageSlot& im = Store.Image[size_t(w.Slot)];
      if (im.Width != w.Width || im.Height != w.Height || im.PlaneCount != w.Planes) return false;
    }
    return true;
  }

private:
  struct TWatched {
    int Slot, Width, Height, Planes;
  };
  std::vector<TWatched> slots_;
};

// Reads the rows y - r .. y + r around x of a plane (columns x - r .. x + r)
// into the cache, as a sample will read them. The values are loaded (the
// prefetch hint alone often came to nothing for pages far apart).
inline void PrefetchWindow(const TImageSlot& im, int plane, int32_t x, int32_t y, int32_t r) {
  const float* p = im.Planes[size_t(plane)].data();
  const int32_t x1 = std::max(x - r, 0), x2 = std::min(x + r, im.Width - 1);
  for (int32_t row = std::max(y - r, 0); row <= std::min(y + r, im.Height - 1); ++row) {
    const float* line = p + size_t(row) * size_t(im.Width);
    asm volatile("" ::"r"(line[x1]), "r"(line[x2]));
  }
}

}  // namespace astrelon

#include "filters/enlargement/enlargement_memory.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include "platform/memory_probe.h"
#include "store/image_store.h"

namespace astrelon {

void RequireX2EnlargementMemory(int source, int workPlanes) {
  if (!SlotInUse(source)) return;
  const TImageSlot& s = Store.Image[size_t(source)];
  const int64_t w = s.Width, h = s.Height;
  const int planes = std::max(s.PlaneCount, 1);
  // The result's sides must be sizes of their own; its planes count four
  // source-sized planes each.
  if (!NewPlanesFit(2 * w, 2 * h, planes) || !NewPlanesFit(w, h, 4 * planes + std::max(workPlanes, 0)))
    throw std::bad_alloc();
}

}  // namespace astrelon

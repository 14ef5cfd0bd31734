#include "frequency/spectrum_slots.h"

#include <algorithm>
#include <new>
#include <utility>

#include "core/settings.h"
#include "platform/memory_probe.h"
#include "platform/parallel_bands.h"
#include "store/image_store.h"

namespace astrelon {

TPlane NewSpectrumPlane(uint64_t values) {
  const uint64_t free = AvailableMemory();
  if (values > TPlane().max_size() || (free > 0 && values > free / sizeof(float))) throw std::bad_alloc();
  return TPlane(size_t(values));
}

void CopySlotRecordOnly(int src, int dst) {
  // CopyImageSlot copies whatever planes the source holds: lend them out for the call.
  auto& planes = Store.Image[src].Planes;
  std::array<TPlane, 4> lent;
  for (size_t p = 0; p < lent.size(); ++p) std::swap(lent[p], planes[p]);
  struct TGiveBack {
    std::array<TPlane, 4>& From;
    std::array<TPlane, 4>& To;
    ~TGiveBack() {
      for (size_t p = 0; p < To.size(); ++p) std::swap(From[p], To[p]);
    }
  } giveBack{lent, planes};
  CopyImageSlot(src, dst);
  for (auto& plane : Store.Image[dst].Planes) TPlane().swap(plane);
}

int SpectrumThreads(int64_t items, int64_t lineCost) {
  const int64_t perThread = std::max<int64_t>(1, (int64_t(1) << 16) / std::max<int64_t>(lineCost, 1));
  return int(std::min<int64_t>(BandThreads(items, perThread, Options.Multicore != 0), std::max<int64_t>(items, 1)));
}

}  // namespace astrelon

#include "kernels/fft/spectrum_slots.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include <sys/mman.h>

#include "core/settings.h"
#include "platform/memory_probe.h"
#include "platform/parallel_bands.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// Asks the system to back the whole 2 MiB pages inside a fresh, untouched
// buffer with huge pages: far fewer page faults when the buffer is first written.
void AdviseHugePages(void* data, size_t bytes) {
  constexpr uintptr_t Huge = uintptr_t(2) << 20;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + Huge - 1) & ~(Huge - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(Huge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace

TPlane NewSpectrumPlane(uint64_t values) {
  const uint64_t free = AvailableMemory();
  if (values > TPlane().max_size() || (free > 0 && values > free / sizeof(float))) throw std::bad_alloc();
  TPlane plane(static_cast<size_t>(values));
  AdviseHugePages(plane.data(), plane.size() * sizeof(float));
  return plane;
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

std::array<TPlane, 4> InversePlanes(int spectrum, int64_t W, int32_t fw, int32_t fh,
                                    const std::function<void(int plane, float* out)>& invert) {
  const TImageSlot& sp = Store.Image[spectrum];
  std::array<TPlane, 4> planes;
  std::array<bool, 4> selected{};
  for (int p = FirstChannel(spectrum); p <= sp.PlaneCount; NextChannel(spectrum, p)) selected[size_t(p)] = true;
  for (int p = 1; p <= sp.PlaneCount; ++p) {
    TPlane& out = planes[size_t(p)];
    if (!selected[size_t(p)]) {
      out = NewSpectrumPlane(uint64_t(fw) * uint64_t(fh));
      const float* in = sp.Planes[p].data();
      for (int32_t y = 0; y < fh; ++y) std::copy_n(in + y * W, fw, out.data() + int64_t(y) * fw);
      continue;
    }
    out = NewSpectrumPlane(uint64_t(W) * uint64_t(fh));
    invert(p, out.data());
    // Rows to the image width, in order (each moves to a lower address).
    for (int32_t y = 1; y < fh; ++y)
      std::memmove(out.data() + int64_t(y) * fw, out.data() + y * W, size_t(fw) * sizeof(float));
    out.resize(size_t(fw) * size_t(fh));
  }
  return planes;
}

int StoreInverse(int spectrum, int destination, std::array<TPlane, 4>& planes, int32_t fw, int32_t fh) {
  const bool fresh = !Store.InUse[destination];
  if (fresh) CopySlotRecordOnly(spectrum, destination);
  const TImageSlot& sp = Store.Image[spectrum];
  TImageSlot& im = Store.Image[destination];
  if (!fresh) {
    im.PlaneCount = sp.PlaneCount;
    im.IsColor = sp.IsColor;
    im.ColorModel = sp.ColorModel;
  }
  for (int p = 1; p <= 3; ++p) im.Planes[p].swap(planes[size_t(p)]);
  im.Width = fw;
  im.Height = fh;
  im.FftWidth = fw;
  im.FftHeight = fh;
  Store.InUse[destination] = 1;
  UpdateMinMax(destination);
  return destination;
}

int SpectrumThreads(int64_t items, int64_t lineCost) {
  const int64_t perThread = std::max<int64_t>(1, (int64_t(1) << 16) / std::max<int64_t>(lineCost, 1));
  return int(std::min<int64_t>(BandThreads(items, perThread, Options.Multicore != 0), std::max<int64_t>(items, 1)));
}

}  // namespace astrelon

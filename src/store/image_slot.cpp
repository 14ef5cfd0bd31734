#include "store/image_slot.h"

namespace astrelon {

namespace {

void SizePlanes(std::array<TPlane, 4>& planes, size_t n, int count, bool clear) {
  for (int p = 1; p <= 3; ++p) {
    if (p > count)
      TPlane().swap(planes[size_t(p)]);
    else if (clear)
      planes[size_t(p)].resize(n, 0.0f);
    else
      planes[size_t(p)].resize(n);
  }
}

}  // namespace

void TImageSlot::AllocatePlanes(int count) { SizePlanes(Planes, PixelCount(), count, true); }

void TImageSlot::AllocatePlanesForOverwrite(int count) { SizePlanes(Planes, PixelCount(), count, false); }

void TImageSlot::FreePlanes() {
  for (auto& plane : Planes) TPlane().swap(plane);
}

}  // namespace astrelon

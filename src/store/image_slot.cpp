#include "store/image_slot.h"

namespace astrelon {

void TImageSlot::AllocatePlanes(int count) {
  const size_t n = PixelCount();
  for (int p = 1; p <= 3; ++p) {
    if (p <= count)
      Planes[p].resize(n);
    else
      std::vector<float>().swap(Planes[p]);
  }
}

void TImageSlot::FreePlanes() {
  for (auto& plane : Planes) std::vector<float>().swap(plane);
}

}  // namespace astrelon

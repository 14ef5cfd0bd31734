#pragma once
// A random colour image in a slot, the same for the same seed.
#include <random>

#include "store/image_store.h"

namespace astrelon::bench {

// Fills `slot` with a w x h colour image of uniform values in [0, top).
inline void FillRandomRgb(int slot, int w, int h, unsigned seed, float top = 1.0f) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(0.0f, top);
  TImageSlot& im = Store.Image[size_t(slot)];
  im.Width = w;
  im.Height = h;
  im.PlaneCount = 3;
  im.IsColor = 1;
  for (int p = 1; p <= 3; ++p) {
    im.Planes[size_t(p)].resize(size_t(w) * size_t(h));
    for (float& v : im.Planes[size_t(p)]) v = u(rng);
  }
  Store.InUse[size_t(slot)] = 1;
}

}  // namespace astrelon::bench

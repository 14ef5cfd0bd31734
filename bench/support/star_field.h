#pragma once
// The sky of the benchmarks: background noise and a few thousand Gaussian stars
// on a square plane.
#include <cmath>
#include <random>

#include "platform/processor_features.h"
#include "store/image_slot.h"
#include "store/image_store.h"

namespace astrelon::bench {

// Background 1000 with noise of 10 (plus a random offset per row of `banding`
// spread), then `stars` stars of peaks 200..50000.
inline void FillStarField(TPlane& p, int side, std::mt19937& rng, int stars, float banding = 0.0f) {
  std::normal_distribution<float> noise(1000.0f, 10.0f);
  std::normal_distribution<float> band(0.0f, banding > 0 ? banding : 1.0f);
  for (int y = 0; y < side; ++y) {
    const float offset = banding > 0 ? band(rng) : 0.0f;
    for (int x = 0; x < side; ++x) p[size_t(y) * size_t(side) + size_t(x)] = noise(rng) + offset;
  }
  std::uniform_int_distribution<int> pos(8, side - 9);
  std::uniform_real_distribution<float> peak(200.0f, 50000.0f);
  for (int s = 0; s < stars; ++s) {
    const int cx = pos(rng), cy = pos(rng);
    const float a = peak(rng);
    for (int dy = -4; dy <= 4; ++dy)
      for (int dx = -4; dx <= 4; ++dx)
        p[size_t(cy + dy) * size_t(side) + size_t(cx + dx)] += a * std::exp(-float(dx * dx + dy * dy) / 4.0f);
  }
}

// Empties the image store and puts a grey side x side star field (above, with
// generator seed `seed`) into `slot`.
inline void MakeStarFieldSlot(int slot, int side, unsigned seed, int stars, float banding = 0.0f) {
  Store.Reset();
  TImageSlot& im = Store.Image[size_t(slot)];
  im.Width = im.Height = side;
  im.PlaneCount = 1;
  im.AllocatePlanes(1);
  std::mt19937 rng(seed);
  FillStarField(im.Planes[1], side, rng, stars, banding);
  Store.InUse[size_t(slot)] = 1;
  UpdateMinMax(slot);
}

// A fresh store holding, in `slot`, a grey star field of side × side with 2000
// stars from the random seed; kept while the side stays the same.
inline void StoreStarField(int slot, int side, unsigned seed) {
  static int made = 0;
  if (made == side) return;
  MakeStarFieldSlot(slot, side, seed, 2000);
  made = side;
}

// The filter benchmarks' start: the star field in slot 1, its copy in slot 2 as
// the destination, and the SIMD paths chosen as at start-up.
inline void MakeFilterField(int side) {
  MakeStarFieldSlot(1, side, 42, 3000);
  CopyImageSlot(1, 2);
  DetectCpuFeatures();
  ApplySimdSetting();
}

}  // namespace astrelon::bench

#pragma once
// Grey test planes put into slots, and the plain pass that the plane
// benchmarks measure against: every pixel read and written once in row bands
// on the baseline pool.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "band_pool.h"
#include "store/image_store.h"

namespace astrelon::bench {

// Makes `slot` a one-plane width x height image holding `plane`.
inline void PutGreyPlane(int slot, int width, int height, const TPlane& plane) {
  TImageSlot& im = Store.Image[size_t(slot)];
  im.Width = width;
  im.Height = height;
  im.PlaneCount = 1;
  im.Planes[1] = plane;
  Store.InUse[size_t(slot)] = 1;
}

// Reads and writes every pixel of the slot's first plane once, in row bands.
inline void PlainPlanePass(int slot, int width, int height, int threads) {
  float* v = Store.Image[size_t(slot)].Planes[1].data();
  PoolBands(height, threads, [&](int64_t first, int64_t last) {
    for (int64_t i = first * width; i < last * width; ++i) v[i] = v[i] * 1.0f + 0.0f;
  });
  benchmark::ClobberMemory();
}

}  // namespace astrelon::bench

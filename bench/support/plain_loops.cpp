#include "plain_loops.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <mutex>

#include "store/image_store.h"

namespace astrelon::bench {

void PlainSlotPass(int slot, int threads, int planes, bool intoNewPlanes) {
  TImageSlot& im = Store.Image[size_t(slot)];
  const int64_t w = im.Width;
  const int last = planes > 0 ? std::min(planes, im.PlaneCount) : im.PlaneCount;
  for (int p = 1; p <= last; ++p) {
    TPlane& plane = im.Planes[size_t(p)];
    TPlane copy(intoNewPlanes ? plane.size() : 0);
    const float* const in = plane.data();
    float* const out = intoNewPlanes ? copy.data() : plane.data();
    PlainBands(im.Height, threads, [in, out, w](int64_t first, int64_t end) {
      for (int64_t i = first * w; i < end * w; ++i) out[i] = in[i] * 1.0f + 0.0f;
    });
    if (intoNewPlanes) plane.swap(copy);
  }
  benchmark::ClobberMemory();
}

float PlainReadSum(std::span<const float> values, int threads) {
  std::mutex adding;
  float total = 0;
  const float* const v = values.data();
  PlainBands(int64_t(values.size()), threads, [&adding, &total, v](int64_t first, int64_t last) {
    // From a local pointer and count: a reduction over captured ones stays scalar.
    const float* const band = v + first;
    const int64_t n = last - first;
    float s = 0;
#pragma omp simd reduction(+ : s)
    for (int64_t i = 0; i < n; ++i) s += band[i];
    std::lock_guard lock(adding);
    total += s;
  });
  return total;
}

}  // namespace astrelon::bench

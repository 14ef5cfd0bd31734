#include "plain_loops.h"

#include <benchmark/benchmark.h>

#include <algorithm>

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

}  // namespace astrelon::bench

// CombineRegionPixels (add) on a 4096 x 4096 colour image on one thread, against
// a plain loop on one thread that adds the same two planes into the same third
// one (measured in the same iterations; figure "plain", goal 1.2 for the vector
// path, 2 for the scalar one; the loop vectorised for the machine). Argument: 0
// scalar path, 1 vector path. Check: the routine reports success and the sum
// is a + b, blank where a is blank, exactly.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>

#include "core/settings.h"
#include "peer_measure.h"
#include "plain_loops.h"
#include "platform/processor_features.h"
#include "shell/slots/region_combination.h"
#include "star_field.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Side = 4096;

struct TBenchSlots {
  TBenchSlots() {
    Store.Reset();
    std::mt19937 rng(11);
    for (int slot : {1, 2, 3}) {
      TImageSlot& im = Store.Image[size_t(slot)];
      im.Width = im.Height = Side;
      im.PlaneCount = 3;
      im.IsColor = 1;
      im.AllocatePlanes(3);
      for (int p = 1; p <= 3; ++p) {
        if (slot == 3) {
          std::fill(im.Planes[size_t(p)].begin(), im.Planes[size_t(p)].end(), 0.0f);
          continue;
        }
        bench::FillStarField(im.Planes[size_t(p)], Side, rng, 2000);
        // An aligned frame has blank borders.
        for (size_t i = 0; i < size_t(Side) * 6; ++i) im.Planes[size_t(p)][i] = BlankPixel;
      }
      Store.InUse[size_t(slot)] = 1;
    }
  }
};

TBenchSlots& Slots() {
  static TBenchSlots s;
  return s;
}

// The baseline: c = a + b over the three planes, nothing else.
void PlainAdd() {
  for (int p = 1; p <= 3; ++p) {
    const float* const a = Store.Image[1].Planes[size_t(p)].data();
    const float* const b = Store.Image[2].Planes[size_t(p)].data();
    float* const c = Store.Image[3].Planes[size_t(p)].data();
    bench::PlainVector([=] {
      const size_t n = size_t(Side) * Side;
      for (size_t i = 0; i < n; ++i) c[i] = a[i] + b[i];
    });
  }
  benchmark::ClobberMemory();
}

void BM_CombineRegionPixelsAdd(benchmark::State& state) {
  Slots();
  const bool savedSse2 = Sse2Enabled;
  DetectCpuFeatures();
  const bool vector = state.range(0) != 0;
  Sse2Enabled = vector && HasSse2;
  bench::WithThreads(state, 1, [&] {
    bench::Measure(
        state,
        [] {
          bench::Expect(CombineRegionPixels(1, 2, 3, {0, 0, Side - 1, Side - 1}, CombineAdd), "nothing combined");
          benchmark::ClobberMemory();
        },
        {{"plain", PlainAdd, vector ? 1.2 : 2.0}}, {},
        [] {
          for (int p = 1; p <= 3; ++p) {
            const TPlane& a = Store.Image[1].Planes[size_t(p)];
            const TPlane& b = Store.Image[2].Planes[size_t(p)];
            TPlane want(a.size());
            for (size_t i = 0; i < want.size(); ++i) want[i] = IsValidPixel(a[i]) ? a[i] + b[i] : a[i];
            bench::ExpectNear(Store.Image[3].Planes[size_t(p)], want, 0, "sum of plane " + std::to_string(p));
          }
        });
  });
  Sse2Enabled = savedSse2;
}
ASTRELON_FIGURES(BM_CombineRegionPixelsAdd, "plain");

BENCHMARK(BM_CombineRegionPixelsAdd)->Arg(0)->Arg(1)->UseManualTime()->Iterations(12)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace astrelon

// Speed of the wavelet filter's quick rebuild: CollapsePyramid of a four-level
// pyramid of a 4096 x 4096 grey float star field into the rectangle, against a
// plain pass that reads every level once and writes each pixel of the
// rectangle once, on the same row bands, with one thread and with eight, timed
// in the same iterations. Counters: "plain_ratio" the fastest rebuild divided
// by the fastest plain pass (goal: at most 2), and "pyramid_ratio" the floats
// the pyramid holds per pixel of the rectangle (goal: at most 4/3 and a little).
// The plain pass is vectorised for the machine. Check: the rebuilt image
// equals that of the scalar twin (the vector loops off) after the timed runs.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <functional>

#include "frequency/wavelet/wavelet_pyramid.h"
#include "peer_measure.h"
#include "plain_loops.h"
#include "platform/parallel_bands.h"
#include "star_field.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Side = 4096;
const TRectI Whole{0, 0, Side - 1, Side - 1};

// dst(x, y) := the sum of every level's pixel over (x, y): each level read once.
void PlainLevelPass(int threads) {
  auto& levels = PyramidSets[0].Levels[1];
  std::array<const float*, PyramidMaxLevels + 1> data{};
  std::array<int, PyramidMaxLevels + 1> widths{};
  for (int l = 0; l <= PyramidMaxLevels; ++l)
    data[size_t(l)] = levels[size_t(l)].Data.data(), widths[size_t(l)] = levels[size_t(l)].Width;
  float* const dst = Store.Image[2].Planes[1].data();
  bench::PlainBands(Side, threads, [=](int64_t first, int64_t last) {
    for (int64_t y = first; y < last; ++y) {
      float* const out = dst + y * Side;
      for (int l = 0; l <= PyramidMaxLevels; ++l) {
        if ((y & ((int64_t(1) << l) - 1)) != 0) continue;  // a coarse row once
        const float* const row = data[size_t(l)] + (y >> l) * widths[size_t(l)];
        const int w = widths[size_t(l)];
        if (l == 0) {
          for (int x = 0; x < Side; ++x) out[x] = row[x];
        } else {
          for (int x = 0; x < w; ++x) out[x] += row[x];
        }
      }
    }
  });
  benchmark::ClobberMemory();
}

void BM_CollapseVsPlainPass(benchmark::State& state) {
  static const bool made = [] {
    bench::MakeFilterField(Side);
    return BuildPyramid(1, 0, 4, Whole);
  }();
  (void)made;
  const int threads = int(state.range(0));
  const std::array<float, 5> gains{1.2f, 1.0f, 0.8f, 1.0f, 1.0f};
  bench::WithThreads(state, threads, [&] {
    const int bands = PyramidThreads(int64_t(Side) * Side);
    const std::function<void()> collapse = [&] { CollapsePyramid(0, 2, 1, 4, gains, Whole); };
    bench::Measure(state, collapse, {{"plain", [&] { PlainLevelPass(bands); }, 2.0}}, {}, [&] {
      bench::ExpectTwin([] { return bench::SlotPlanes(2); }, {}, collapse, 0, "rebuilt image");
    });
  });
  int64_t floats = 0;
  for (const TPyramidLevel& lv : PyramidSets[0].Levels[1]) floats += int64_t(lv.Data.size());
  state.counters["pyramid_ratio"] = double(floats) / (double(Side) * Side);
  state.counters["pyramid_ratio_goal"] = 4.0 / 3.0 + 0.01;
}

ASTRELON_FIGURES(BM_CollapseVsPlainPass, "plain", "pyramid");
BENCHMARK(BM_CollapseVsPlainPass)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
}  // namespace astrelon

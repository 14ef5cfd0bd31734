// Speed of the multipoint shift grid of a 4000 x 3000 image with 50 marks
// (1002 x 752 nodes, 1225 mark pairs each) against a plain loop over the same
// nodes and mark pairs doing one multiply-add per pair, its node rows spread
// over the same threads (vectorised for the machine). Counter "plain_ratio"
// (goal: at most 4), one thread and all cores. Check: the grid's nodes equal
// those of the scalar twin (the vector loops off) built after the timed runs.
#include <benchmark/benchmark.h>

#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "core/batch_series.h"
#include "core/settings.h"
#include "peer_measure.h"
#include "plain_loops.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "registration/matching/shift_grid_builder.h"
#include "registration/matching/similarity_fit.h"
#include "registration/matching/star_marks.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int W = 4000, H = 3000, Marks = 50;
constexpr int Target = 1, Frame = 2;

// The target slot (its size only) and 50 star pairs under a small turn with
// local shifts, fitted.
void Prepare() {
  static bool done = false;
  if (done) return;
  done = true;
  DetectCpuFeatures();
  Sse2Enabled = HasSse2;
  Store.InUse[Target] = 1;
  Store.Image[Target].Width = W;
  Store.Image[Target].Height = H;
  std::mt19937 rng(9);
  std::uniform_real_distribution<float> u(0, 1), wobble(-1, 1);
  std::vector<TMarkPair> pairs;
  for (int k = 0; k < Marks; ++k) {
    const float x = W * u(rng), y = H * u(rng);
    pairs.push_back({x, y, 0.9995f * x - 0.01f * y + 12 + wobble(rng), 0.01f * x + 0.9995f * y - 7 + wobble(rng)});
  }
  BatchMarkPairs = {pairs};
  ApplyShiftListMarks(0, Frame, Target);
  FitMarksToReference(Target, Frame);
}

// One multiply-add per node and mark pair, node rows on the grid's threads.
void PlainPairs(std::vector<float>& out) {
  const int32_t perRow = W / 4 + 2, rows = H / 4 + 2;
  static std::vector<float> a(Marks), b(Marks);
  for (int k = 0; k < Marks; ++k) a[size_t(k)] = 0.001f * float(k + 1), b[size_t(k)] = 1.0f / float(k + 2);
  out.assign(size_t(perRow) * size_t(rows), 0.0f);
  const float* const pa = a.data();
  const float* const pb = b.data();
  float* const o = out.data();
  ForEachBand(rows, BandThreads(rows, 2, Options.Multicore != 0), [=](int64_t first, int64_t last) {
    bench::PlainVector([=] {
      for (int64_t gy = first; gy < last; ++gy)
        for (int32_t gx = 0; gx < perRow; ++gx) {
          float acc = float(gx);
          for (int i = 0; i < Marks; ++i) {
            const float ai = pa[i] + float(gy);
            const float* const later = pb + i + 1;
            const int count = Marks - i - 1;
            float pairs = 0;
#pragma omp simd reduction(+ : pairs)
            for (int j = 0; j < count; ++j) pairs += ai * later[j];
            acc += pairs;
          }
          o[size_t(gy) * size_t(perRow) + size_t(gx)] = acc;
        }
    });
  });
  benchmark::DoNotOptimize(out.data());
}

void BM_ShiftGrid(benchmark::State& state) {
  Prepare();
  const int threads = int(state.range(0));
  std::vector<float> plain;
  bench::WithThreads(state, threads, [&] {
    const TShiftGrid* grid = nullptr;
    const std::function<void()> build = [&] { grid = &BuildShiftGrid(Target, Frame, 0, H - 1); };
    bench::Measure(state, build, {{"plain", [&] { PlainPairs(plain); }, 4.0}}, {}, [&] {
      bench::ExpectTwin([&] { return std::vector<std::vector<float>>{{grid->Nodes.begin(), grid->Nodes.end()}}; }, {},
                        build, 0, "shift grid");
    });
  });
}
ASTRELON_FIGURES(BM_ShiftGrid, "plain");
BENCHMARK(BM_ShiftGrid)
    ->Arg(1)
    ->Arg(int(std::max(2u, std::thread::hardware_concurrency())))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace
}  // namespace astrelon

// Speed of the speckle accumulation: one frame added to the accumulators of
// every shift vector (a 256 × 256 RGB region and a 512 × 512 grey one, the
// largest vector list), with one thread and with all, against a plain
// read-modify-write pass over the same accumulators on the same threads
// ("plain_ratio", goal 2).
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>
#include <vector>

#include "core/settings.h"
#include "frequency/speckle_accumulation.h"
#include "frequency/spectrum_image.h"
#include "peer_measure.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

int AllThreads() { return int(std::max(1u, std::thread::hardware_concurrency())); }

// The spectrum planes of a side × side frame with `planes` planes.
std::vector<std::vector<float>> FrameSpectra(int side, int planes, int32_t& W, int32_t& H) {
  Store.Reset();
  TImageSlot& im = Store.Image[1];
  im.Width = im.Height = side;
  im.PlaneCount = planes;
  im.IsColor = planes == 3;
  im.AllocatePlanes(planes);
  uint32_t h = 12345;
  for (int p = 1; p <= planes; ++p)
    for (float& v : im.Planes[size_t(p)]) {
      h = h * 1664525u + 1013904223u;
      v = 1000.0f + float(h >> 20) * 0.01f;
    }
  Store.InUse[1] = 1;
  const int s = ImageToFft2D(1, 10, 0);
  W = Store.Image[size_t(s)].Width;
  H = Store.Image[size_t(s)].Height;
  std::vector<std::vector<float>> out;
  for (int p = 1; p <= planes; ++p) out.emplace_back(Store.Image[size_t(s)].Planes[size_t(p)].begin(),
                                                      Store.Image[size_t(s)].Planes[size_t(p)].end());
  Store.Reset();
  return out;
}

// X = X·0.5 + 1 over every accumulator, shared out over the threads.
void PlainPass(TSpeckleAccumulators& acc, int threads) {
  std::atomic<size_t> next{0};
  const size_t items = size_t(acc.Layers) * size_t(acc.Vectors);
  ForEachBand(threads, threads, [&](int64_t, int64_t) {
    for (size_t k; (k = next.fetch_add(1)) < items;) {
      TPlane& x = acc.X[k / size_t(acc.Vectors) + 1][k % size_t(acc.Vectors) + 1];
      for (float& v : x) v = v * 0.5f + 1.0f;
    }
  });
}

void BM_SpeckleAccumulation(benchmark::State& state) {
  const int side = int(state.range(0)), planes = int(state.range(1));
  const int threads = state.range(2) > 1 ? AllThreads() : 1;
  DetectCpuFeatures();
  ApplySimdSetting();
  int32_t W = 0, H = 0;
  const std::vector<std::vector<float>> spectra = FrameSpectra(side, planes, W, H);
  const TShiftVectors vectors = BuildShiftVectors(side / 2.0f, side / 2.0f);
  TSpeckleAccumulators acc;
  acc.Reset(W, H, planes, vectors.Total);
  std::vector<std::vector<float>> frame = spectra;
  TSpeckleJob job;
  for (int p = 1; p <= planes; ++p) job.Planes[size_t(p)] = frame[size_t(p - 1)];
  bench::WithThreads(state, threads, [&] {
    bench::Measure(
        state, [&] { SpeckleAkkumulation(acc, vectors, job, false, threads); },
        {{"plain", [&] { PlainPass(acc, threads); }, 2.0}}, [&] { frame = spectra; });
  });
  state.counters["vectors"] = vectors.Total;
  state.counters["accumulator_MB"] = double(acc.PlaneValues()) * 4 * planes * vectors.Total / 1048576.0;
}
BENCHMARK(BM_SpeckleAccumulation)
    ->Args({256, 3, 1})
    ->Args({256, 3, 8})
    ->Args({512, 1, 1})
    ->Args({512, 1, 8})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

}  // namespace
}  // namespace astrelon

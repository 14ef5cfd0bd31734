// Speed of the two-times enlargement by network and of the network filter on
// a 4096 x 4096 grey image, with a network of 37 inputs and 37 neurons
// (n = 36, N = 36; a two-layer two-times network, a universal filter), one
// run each, on one thread and spread over all cores. Baseline "loop": the same
// multiply-adds over the same rows in eight-wide vectors (four-wide without
// AVX2), spread the same way: for every pixel the 37 disc inputs gathered and
// normalised, the matrix-vector products of the pass (bench::MatVec), the four
// outputs written. Goal: within 1.5 times. Check: the routine runs to its end,
// and its result equals that of the scalar twin (the vector loops off) on the
// same image after the timed runs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "bench_folder.h"
#include "core/settings.h"
#include "filters/network/network_filter.h"
#include "filters/network/network_inputs.h"
#include "filters/network/network_rows.h"
#include "filters/network/upscale_x2_network.h"
#include "kernels/network/network_file_writers.h"
#include "kernels/network/network_weights.h"
#include "kernels/network/neural_tables.h"
#include "network_matvec.h"
#include "peer_measure.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Size = 4096, Top = 36;

// A grey image of smooth structure and noise in slot 1.
void MakeSource() {
  TImageSlot& im = Store.Image[1];
  im.Width = Size;
  im.Height = Size;
  im.PlaneCount = 1;
  im.Planes[1].resize(size_t(Size) * Size);
  std::mt19937 rng(4);
  std::uniform_real_distribution<float> noise(-5.0f, 5.0f);
  for (int y = 0; y < Size; ++y)
    for (int x = 0; x < Size; ++x)
      im.Planes[1][size_t(y) * Size + size_t(x)] =
          float(1000 + 400 * std::sin(0.01 * x) * std::cos(0.013 * y)) + noise(rng);
  Store.InUse[1] = 1;
  MakeDefaultHeader(1);
  UpdateMinMax(1);
}

// A network of `type` with weights in [-0.15, 0.15) written to a file.
std::string NetworkFile(const bench::TBenchFolder& folder, int32_t type) {
  BuildTanhTable();
  Settings.NetworkSetting = 0.3;
  InitNetwork(Top, Top, 36, 42);
  Network.TypeCode = type;
  Network.Rate = 0.01;
  const std::string file = folder.Path + (type == 3 ? "/net.nnw" : "/net.nnf");
  if (type == 3)
    WriteTwoTimesNetworkFile(file, Network);
  else
    WriteUniversalNetworkFile(file, Network);
  return file;
}

// The baseline's rows: inputs, products, the four outputs (into the 2 x 2
// block of a two-times result, or side by side for the filter).
template <class V>
[[gnu::always_inline]] inline void LoopRows(const TNetworkWeights& net, const TImageSlot& src, float* out, bool blocks,
                                            double scale, int64_t first, int64_t last) {
  alignas(32) float x[64], h1[1024], h2[32], y[4];
  const float* p = src.Planes[1].data();
  const float inv = float(1 / scale);
  for (int64_t row = first; row < last; ++row)
    for (int c = 0; c < Size; ++c) {
      const float centre = p[size_t(row) * Size + size_t(c)];
      for (int i = 0; i <= 36; ++i) {
        const int xx = std::clamp(c + DiscOffsets[i].Dx, 0, Size - 1);
        const int yy = std::clamp(int(row) + DiscOffsets[i].Dy, 0, Size - 1);
        x[i] = (p[size_t(yy) * Size + size_t(xx)] - centre) * inv;
      }
      bench::MatVec<V>(net, x, h1, h2, y, 36);
      if (blocks) {
        float* o = out + size_t(2 * row) * (2 * Size) + size_t(2 * c);
        o[0] = centre + y[0];
        o[1] = centre + y[1];
        o[2 * Size] = centre + y[2];
        o[2 * Size + 1] = centre + y[3];
      } else {
        for (int k = 0; k < 4; ++k) out[(size_t(row) * Size + size_t(c)) * 4 + size_t(k)] = centre + y[k];
      }
    }
}
void LoopRowsSse(const TNetworkWeights& net, const TImageSlot& src, float* out, bool blocks, double scale,
                 int64_t first, int64_t last) {
  LoopRows<simd::TVec4f>(net, src, out, blocks, scale, first, last);
}
#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 void LoopRowsAvx2(const TNetworkWeights& net, const TImageSlot& src, float* out, bool blocks,
                                double scale, int64_t first, int64_t last) {
  LoopRows<simd::TVec8f>(net, src, out, blocks, scale, first, last);
}
#endif

// args: routine (0 the enlargement, 1 the filter), threads (0: all cores).
void BM_NetworkRoutine(benchmark::State& state) {
  const int routine = int(state.range(0));
  const bool all = state.range(1) == 0;
  SseEnabled = true;
  Avx2Enabled = true;
  Store.Reset();
  MakeSource();
  const bench::TBenchFolder folder("network-filters");
  const std::string file = NetworkFile(folder, routine == 0 ? 3 : 1);
  const TNetworkWeights net = Network;
  Options.Multicore = all;
  const int threads = NetworkRowThreads(Size, Size);
  const TImageSlot& src = Store.Image[1];
  const double scale = (double(src.MaxValue) - src.MinValue) / 2;
  std::vector<float> base(size_t(Size) * Size * 4);
  const std::function<void()> run = [&] {
    const bool finished = routine == 0 ? UpscaleX2Network(1, 2, file)
                                       : ApplyNetworkFilter(1, 2, file, {0, Size - 1, 0, Size - 1}, 1.0);
    if (!finished) bench::Fail("the network routine stopped");
    benchmark::DoNotOptimize(Store.Image[2].Planes[1].data());
  };
  bench::Measure(
      state, run,
      {{"loop",
        [&] {
          ForEachBand(Size, threads, [&](int64_t a, int64_t b) {
#if ASTRELON_HAVE_AVX2
            if (CpuHasAvx2()) return LoopRowsAvx2(net, src, base.data(), routine == 0, scale, a, b);
#endif
            LoopRowsSse(net, src, base.data(), routine == 0, scale, a, b);
          });
          benchmark::DoNotOptimize(base.data());
        },
        1.5}},
      [&] { CopyImageSlot(1, 2); },
      [&] {
        bench::ExpectTwin([] { return bench::SlotPlanes(2); }, [] { CopyImageSlot(1, 2); }, run, 0, "network result");
      });
  state.counters["threads"] = threads;
  Store.Reset();
}

ASTRELON_FIGURES(BM_NetworkRoutine, "loop");
BENCHMARK(BM_NetworkRoutine)
    ->ArgNames({"routine", "threads"})
    ->Args({0, 1})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({1, 0})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
}  // namespace astrelon

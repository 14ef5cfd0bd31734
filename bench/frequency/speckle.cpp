// Speed of the speckle tool, with one thread and with all:
//  - the accumulation of one frame into the accumulators of every shift vector
//    (a 256 × 256 RGB region and a 512 × 512 grey one, 249 vectors) against a
//    plain read-modify-write pass over the same accumulators ("plain_ratio",
//    goal 2);
//  - the reconstruction of a 256 × 256 grey region (249 vectors, max steps 1)
//    with "Max Radius:" 4.5 (15 triples) and with the largest radius (the cap
//    of 2000 triples): its power pass against a plain loop gathering the same
//    triple samples into plain means ("gather_ratio", goal 2), and the whole
//    reconstruction ("Spektrum neu berechnen"; and after a new accumulation,
//    with the conversion of the accumulators) against the same loop (goal 3).
#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <cmath>
#include <span>
#include <thread>
#include <vector>

#include "core/settings.h"
#include "frequency/speckle/speckle_accumulation.h"
#include "frequency/speckle/speckle_amplitudes.h"
#include "frequency/speckle/speckle_power.h"
#include "frequency/speckle/speckle_reconstruction.h"
#include "frequency/speckle/speckle_session.h"
#include "kernels/fft/spectrum_image.h"
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
ASTRELON_FIGURES(BM_SpeckleAccumulation, "plain");
BENCHMARK(BM_SpeckleAccumulation)
    ->Args({256, 3, 1})
    ->Args({256, 3, 8})
    ->Args({512, 1, 1})
    ->Args({512, 1, 8})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

// A session holding the accumulators of a few 256 × 256 grey frames (KT off).
struct TReconstructionBench {
  TSpeckleSession Session;
  std::vector<TPlane> Fresh;  // the accumulators before their conversion
  TSpecklePowerSetUp Power, WidePower;
  TReconstructionBench() {
    DetectCpuFeatures();
    ApplySimdSetting();
    Store.Reset();
    TSpeckleSession& s = Session;
    s.Vectors = BuildShiftVectors(128, 128);
    SortShiftVectors(s.Vectors);
    int32_t W = 0, H = 0;
    for (int frame = 0; frame < 4; ++frame) {
      std::vector<std::vector<float>> spectrum = FrameSpectra(256, 1, W, H);
      if (frame == 0) s.Acc.Reset(W, H, 1, s.Vectors.Total);
      TSpeckleJob job;
      job.Planes[1] = spectrum[0];
      SpeckleAkkumulation(s.Acc, s.Vectors, job, false, AllThreads());
    }
    Fresh = s.Acc.X[1];
    ConvertSpeckleLayer(s.Acc, 1, s.Vectors, s.Noise[1], AllThreads());
    // The result spectrum: a grey 256 × 256 spectrum slot.
    Store.Image[1].Width = Store.Image[1].Height = 256;
    Store.Image[1].AllocatePlanes(1);
    Store.InUse[1] = 1;
    s.ResultSpectrum = ImageToFft2D(1, 10, 0);
    FreeSlot(1);
    s.DataPresent = true;
    s.RunLayers = 1;
    Power = SpecklePowerTriples(s.Vectors, 4.5);
    WidePower = SpecklePowerTriples(s.Vectors, 1e9);
  }
};

TReconstructionBench& Reconstruction() {
  static TReconstructionBench b;
  return b;
}

// Every frequency's mean of the same triple samples, by rows over the threads.
void PlainGather(const TSpeckleAccumulators& acc, const TShiftVectors& v, const std::vector<TSpeckleTriple>& triples,
                 const std::array<double, 250>& eps, std::span<float> out, int threads) {
  const int32_t half = acc.Half(), H = acc.Height;
  const size_t W = size_t(acc.Width);
  std::atomic<int32_t> next{0};
  ForEachBand(threads, threads, [&](int64_t, int64_t) {
    std::vector<double> sum(static_cast<size_t>(half));
    std::vector<int32_t> n(static_cast<size_t>(half));
    for (int32_t y; (y = next.fetch_add(1)) < H;) {
      std::fill(sum.begin(), sum.end(), 0.0);
      std::fill(n.begin(), n.end(), 0);
      for (const TSpeckleTriple& t : triples) {
        const int32_t dxa = v.Dx[t.A], dya = v.Dy[t.A], dxb = v.Dx[t.B], dyb = v.Dy[t.B];
        if (y + std::min(dya, dyb) < 0 || y + std::max(dya, dyb) >= H) continue;
        const float* a = acc.X[1][t.A].data() + size_t(y) * W;
        const float* c = acc.X[1][t.C].data() + size_t(y) * W;
        const float* b = acc.X[1][t.B].data() + size_t(y + dya) * W + size_t(dxa);
        for (int32_t x = 0; x < half - std::max(dxa, dxb); ++x)
          if (b[x] > 0) {
            sum[size_t(x)] += double(a[x]) * c[x] / (b[x] + eps[t.B]);
            ++n[size_t(x)];
          }
      }
      for (int32_t x = 0; x < half; ++x)
        out[size_t(y) * W + size_t(x)] = n[size_t(x)] ? float(std::sqrt(sum[size_t(x)] / n[size_t(x)])) : 0.0f;
    }
  });
}

void BM_SpeckleReconstruction(benchmark::State& state) {
  TReconstructionBench& b = Reconstruction();
  TSpeckleSession& s = b.Session;
  const int threads = state.range(0) > 1 ? AllThreads() : 1;
  const int part = int(state.range(1));  // 0 power pass, 1 whole, 2 whole with the conversion
  const bool wide = state.range(2) != 0;
  const TSpecklePowerSetUp& setUp = wide ? b.WidePower : b.Power;
  std::vector<float> plain(s.Acc.PlaneValues()), power(s.Acc.PlaneValues());
  const auto gather = [&] { PlainGather(s.Acc, s.Vectors, setUp.Triples, s.Noise[1].Eps, plain, threads); };
  TSpeckleReconstructionSettings settings;
  settings.MaxSteps = 1;
  settings.MaxRadius = wide ? 1e9 : 4.5;
  bench::WithThreads(state, threads, [&] {
    if (part == 0) {
      bench::Measure(
          state,
          [&] {
            SpecklePowerPass(s.Acc, 1, s.Vectors, setUp.Triples, s.Noise[1].Eps, false, power, threads);
          },
          {{"gather", gather, 2.0}});
    } else {
      bench::Measure(
          state, [&] { SpeckleRekonstruktion(s, part == 2, settings); }, {{"gather", gather, 3.0}},
          [&] {
            if (part == 2) {
              s.Acc.X[1] = b.Fresh;
              s.Noise[1] = {};
            }
          });
    }
  });
  state.counters["triples"] = double(setUp.Triples.size());
  state.counters["vectors"] = s.Vectors.Total;
}
ASTRELON_FIGURES(BM_SpeckleReconstruction, "gather");
BENCHMARK(BM_SpeckleReconstruction)
    ->ArgsProduct({{1, 8}, {0, 1, 2}, {0, 1}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

}  // namespace
}  // namespace astrelon

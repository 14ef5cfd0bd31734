// Speed of the speckle tool, with one thread and with all (the plain loops
// vectorised for the machine):
//  - the accumulation of one frame into the accumulators of every shift vector
//    (a 256 × 256 RGB region and a 512 × 512 grey one, 249 vectors), each run
//    into zeroed accumulators, against a plain read-modify-write pass over the
//    same accumulators ("plain_ratio", goal 2); check: the accumulators equal
//    those of the scalar twin (the vector loops off) after the timed runs;
//  - the reconstruction of a 256 × 256 grey region (249 vectors, max steps 1)
//    with "Max Radius:" 4.5 (15 triples) and with the largest radius (the cap
//    of 2000 triples): its power pass (BM_SpecklePowerPass) against a plain
//    loop gathering the same triple samples into plain means ("gather_ratio",
//    goal 2; check: the power equals that of the scalar twin, its robust means
//    with the vector loops off), and the
//    whole reconstruction ("Spektrum neu berechnen"; and after a new
//    accumulation, with the conversion of the accumulators) against a plain
//    reconstruction doing the same work (figure "plain", goal 3): the same
//    gathering into plain means, the phase walk over the same frequencies and
//    vectors (the sines and cosines in vectors), the amplitudes and phases to
//    real and imaginary parts, and with the conversion the accumulators to
//    amplitude and phase. Check: the kept spectrum equals that of the scalar
//    twin (the vector loops off) after the timed runs, and its phases equal
//    the plain walk's on the same accumulators within 1e-4 radian.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <functional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "core/settings.h"
#include "frequency/speckle/speckle_accumulation.h"
#include "frequency/speckle/speckle_amplitudes.h"
#include "frequency/speckle/speckle_phases.h"
#include "frequency/speckle/speckle_power.h"
#include "frequency/speckle/speckle_reconstruction.h"
#include "frequency/speckle/speckle_session.h"
#include "kernels/fft/spectrum_image.h"
#include "peer_measure.h"
#include "plain_loops.h"
#include "plain_math.h"
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
      float* const v = x.data();
      const size_t n = x.size();
      bench::PlainVector([=] {
        for (size_t i = 0; i < n; ++i) v[i] = v[i] * 0.5f + 1.0f;
      });
    }
  });
}

// Every accumulator value of every layer and vector.
std::vector<std::vector<float>> AccumulatorValues(const TSpeckleAccumulators& acc) {
  std::vector<std::vector<float>> all;
  for (int32_t l = 1; l <= acc.Layers; ++l)
    for (int32_t u = 1; u <= acc.Vectors; ++u) all.emplace_back(acc.X[size_t(l)][size_t(u)].begin(), acc.X[size_t(l)][size_t(u)].end());
  return all;
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
    const std::function<void()> accumulate = [&] { SpeckleAkkumulation(acc, vectors, job, false, threads); };
    const std::function<void()> reset = [&] {
      frame = spectra;
      acc.Reset(W, H, planes, vectors.Total);
    };
    bench::Measure(state, accumulate, {{"plain", [&] { PlainPass(acc, threads); }, 2.0}}, reset, [&] {
      bench::ExpectTwin([&] { return AccumulatorValues(acc); }, reset, accumulate, 0, "accumulators");
    });
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
  TSpeckleLayerNoise Converted;  // what their conversion measured
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
    Converted = s.Noise[1];
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
    std::vector<double> sums(static_cast<size_t>(half));
    std::vector<int32_t> counts(static_cast<size_t>(half));
    for (int32_t y; (y = next.fetch_add(1)) < H;) {
      double* const sum = sums.data();
      int32_t* const n = counts.data();
      std::fill_n(sum, half, 0.0);
      std::fill_n(n, half, 0);
      for (const TSpeckleTriple& t : triples) {
        const int32_t dxa = v.Dx[t.A], dya = v.Dy[t.A], dxb = v.Dx[t.B], dyb = v.Dy[t.B];
        if (y + std::min(dya, dyb) < 0 || y + std::max(dya, dyb) >= H) continue;
        const float* const a = acc.X[1][t.A].data() + size_t(y) * W;
        const float* const c = acc.X[1][t.C].data() + size_t(y) * W;
        const float* const b = acc.X[1][t.B].data() + size_t(y + dya) * W + size_t(dxa);
        const double e = eps[t.B];
        const int32_t end = half - std::max(dxa, dxb);
        bench::PlainVector([=] {
          // Locals: the stores below could otherwise change what the lambda captured.
          const float *const pa = a, *const pb = b, *const pc = c;
          double* const ps = sum;
          int32_t* const pn = n;
          const double pe = e;
          const int32_t count = end;
#pragma omp simd
          for (int32_t x = 0; x < count; ++x) {
            const bool taken = pb[x] > 0;
            const double sample = double(pa[x]) * pc[x] / (pb[x] + pe);
            ps[x] += taken ? sample : 0.0;
            pn[x] += taken;
          }
        });
      }
      float* const row = out.data() + size_t(y) * W;
      bench::PlainVector([=] {
        float* const r = row;
        const double* const ps = sum;
        const int32_t* const pn = n;
        const int32_t count = half;
#pragma omp simd
        for (int32_t x = 0; x < count; ++x) r[x] = pn[x] ? float(std::sqrt(ps[x] / pn[x])) : 0.0f;
      });
    }
  });
}

// The phase walk of one layer over converted accumulators (amplitude in the
// real half, phase in the imaginary half), as the reconstruction does it with
// paths of one step, in plain form: for each frequency in the walk's order the
// terms of every usable vector leading to a known frequency are laid out, and
// their weighted phasors summed in vectors. `result` gets the phases in its
// imaginary half.
void PlainPhaseWalk(const TSpeckleAccumulators& acc, const TShiftVectors& v, const TSpeckleLayerNoise& noise,
                    int32_t mx, int32_t my, std::span<float> result) {
  const int32_t W = acc.Width, H = acc.Height, half = acc.Half(), mid = H / 2;
  const int32_t n = std::clamp(std::min(v.Regular, acc.Vectors), 0, TShiftVectors::Capacity);
  std::array<double, TShiftVectors::Capacity + 1> phi{};
  std::array<uint8_t, TShiftVectors::Capacity + 1> usable{};
  const TSpeckleLayerSums& sums = acc.Sums[1];
  for (int32_t u = 1; u <= std::min(n, 3); ++u)
    usable[size_t(u)] = 1, phi[size_t(u)] = std::atan2(sums.SumSin[size_t(u)], sums.SumCos[size_t(u)]);
  std::vector<int16_t> vectorAt(size_t(half) * size_t(H), 0);
  for (int32_t u = n; u >= 4; --u) {
    const int32_t x = v.Dx[size_t(u)], y = mid + v.Dy[size_t(u)];
    if (x >= 0 && x < half && y >= 0 && y < H) vectorAt[size_t(y) * size_t(half) + size_t(x)] = int16_t(u);
  }
  std::vector<uint8_t> known(size_t(W) * size_t(H), 0);
  std::vector<int32_t> list;
  const auto rebuild = [&] {
    list.clear();
    for (int32_t u = n; u >= 1; --u)
      if (usable[size_t(u)]) list.push_back(u);
  };
  rebuild();
  std::vector<double> phase(size_t(n) + 1), variance(size_t(n) + 1);
  const double eps = noise.Smallest;
  result[size_t(mid) * size_t(W) + size_t(half)] = 0;
  known[size_t(mid) * size_t(W)] = 1;
  for (const auto& [x, y] : SpeckleVisitingOrder(half, H)) {
    size_t k = 0;
    for (const int32_t u : list) {
      const int32_t gx = x - v.Dx[size_t(u)], gy = y - v.Dy[size_t(u)];
      if (gx < 0 || gy < 0 || gy >= H) continue;
      const size_t at = size_t(gy) * size_t(W) + size_t(gx);
      if (!known[at]) continue;
      const float* X = acc.X[1][size_t(u)].data();
      phase[k] = phi[size_t(u)] - X[at + size_t(half)] + result[at + size_t(half)];
      variance[k] = noise.Weight[size_t(u)] / (X[at] + eps);
      ++k;
    }
    double sumCos = 0, sumSin = 0;
    bench::PlainPhasorSum(phase.data(), variance.data(), k, sumCos, sumSin);
    const double p = std::atan2(sumSin, sumCos);
    if (x <= mx && std::abs(y - mid) <= my) {
      const int32_t u = vectorAt[size_t(y) * size_t(half) + size_t(x)];
      if (u >= 4 && !usable[size_t(u)]) usable[size_t(u)] = 1, phi[size_t(u)] = p, rebuild();
    }
    const size_t at = size_t(y) * size_t(W) + size_t(x);
    result[at + size_t(half)] = float(p);
    known[at] = 1;
  }
}

// The power pass alone against the plain gathering.
void BM_SpecklePowerPass(benchmark::State& state) {
  TReconstructionBench& b = Reconstruction();
  TSpeckleSession& s = b.Session;
  const int threads = state.range(0) > 1 ? AllThreads() : 1;
  const bool wide = state.range(1) != 0;
  const TSpecklePowerSetUp& setUp = wide ? b.WidePower : b.Power;
  std::vector<float> plain(s.Acc.PlaneValues()), power(s.Acc.PlaneValues());
  bench::WithThreads(state, threads, [&] {
    const std::function<void()> pass = [&] {
      if (!SpecklePowerPass(s.Acc, 1, s.Vectors, setUp.Triples, s.Noise[1].Eps, false, power, threads))
        bench::Fail("the power pass stopped");
    };
    bench::Measure(
        state, pass,
        {{"gather", [&] { PlainGather(s.Acc, s.Vectors, setUp.Triples, s.Noise[1].Eps, plain, threads); }, 2.0}}, {},
        [&] { bench::ExpectTwin([&] { return std::vector<std::vector<float>>{power}; }, {}, pass, 0, "power"); });
  });
  state.counters["triples"] = double(setUp.Triples.size());
}
ASTRELON_FIGURES(BM_SpecklePowerPass, "gather");
BENCHMARK(BM_SpecklePowerPass)
    ->ArgsProduct({{1, 8}, {0, 1}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

void BM_SpeckleReconstruction(benchmark::State& state) {
  TReconstructionBench& b = Reconstruction();
  TSpeckleSession& s = b.Session;
  const int threads = state.range(0) > 1 ? AllThreads() : 1;
  const bool convert = state.range(1) == 2;  // 1 whole, 2 whole with the conversion
  const bool wide = state.range(2) != 0;
  const TSpecklePowerSetUp& setUp = wide ? b.WidePower : b.Power;
  std::vector<float> plain(s.Acc.PlaneValues());
  // The plain reconstruction: the accumulators converted (with the
  // conversion), the power gathered, the phases walked, the result made.
  const auto reconstruction = [&] {
    TSpeckleAccumulators& acc = s.Acc;
    const int32_t W = acc.Width, half = acc.Half();
    if (convert) {
      std::atomic<int32_t> next{1};
      ForEachBand(threads, threads, [&](int64_t, int64_t) {
        for (int32_t u; (u = next.fetch_add(1)) <= acc.Vectors;)
          for (int32_t y = 0; y < acc.Height; ++y) {
            float* re = acc.X[1][size_t(u)].data() + size_t(y) * size_t(W);
            bench::PlainToPolar(re, re + half, size_t(half));
          }
      });
    }
    PlainGather(acc, s.Vectors, setUp.Triples, b.Converted.Eps, plain, threads);
    PlainPhaseWalk(acc, s.Vectors, b.Converted, setUp.Mx, setUp.My, plain);
    for (int32_t y = 0; y < acc.Height; ++y) {
      float* re = plain.data() + size_t(y) * size_t(W);
      bench::PlainToCartesian(re, re + half, size_t(half));
    }
  };
  TSpeckleReconstructionSettings settings;
  settings.MaxSteps = 1;
  settings.MaxRadius = wide ? 1e9 : 4.5;
  bench::WithThreads(state, threads, [&] {
    const std::function<void()> reconstruct = [&] {
      if (SpeckleRekonstruktion(s, convert, settings) != TSpeckleOutcome::Done)
        bench::Fail("the reconstruction did not finish");
    };
    const std::function<void()> fresh = [&] {
      if (convert) {
        s.Acc.X[1] = b.Fresh;
        s.Noise[1] = {};
      }
    };
    bench::Measure(
        state, reconstruct, {{"plain", reconstruction, 3.0}}, fresh,
        [&] {
          bench::ExpectTwin([&] { return bench::SlotPlanes(s.KeptSpectrum); }, fresh, reconstruct, 0, "kept spectrum");
          // The phases against the plain walk's on the same accumulators.
          const TImageSlot& kept = Store.Image[size_t(s.KeptSpectrum)];
          const int32_t W = kept.Width, H = kept.Height, half = W / 2;
          std::vector<float> walked(s.Acc.PlaneValues(), 0.0f);
          PlainPhaseWalk(s.Acc, s.Vectors, s.Noise[1], setUp.Mx, setUp.My, walked);
          double worst = 0;
          for (int32_t y = 0; y < H; ++y)
            for (int32_t x = 0; x < half; ++x) {
              const size_t at = size_t(y) * size_t(W) + size_t(x);
              const float re = kept.Planes[1][at], im = kept.Planes[1][at + size_t(half)];
              if (!(re * re + im * im > 0)) continue;
              const double d = std::remainder(double(std::atan2(im, re)) - walked[at + size_t(half)], 2 * M_PI);
              worst = std::max(worst, std::fabs(d));
            }
          bench::Expect(worst <= 1e-4, "phases differ from the plain walk's by up to " + std::to_string(worst));
        });
  });
  state.counters["triples"] = double(setUp.Triples.size());
  state.counters["vectors"] = s.Vectors.Total;
}
ASTRELON_FIGURES(BM_SpeckleReconstruction, "plain");
BENCHMARK(BM_SpeckleReconstruction)
    ->ArgsProduct({{1, 8}, {1, 2}, {0, 1}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

}  // namespace
}  // namespace astrelon

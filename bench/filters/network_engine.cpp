// Speed of the network engine against plain loops over the same weights,
// measured in the same iterations (bench/peer_measure.h):
// - ForwardNetwork over rows of 256 input vectors (128 rows on one thread,
//   1024 rows spread over all cores), for a 37-input network of 37 neurons
//   with a second layer (type 3) and a 61-input network of 201 neurons without
//   one (type 14). Baseline "loop": the same matrix-vector products in eight-wide
//   vectors (four-wide without AVX2), without activations, biases and base,
//   spread the same way. Goal: within 1.5 times.
// - 4000 TrainSteps of the 37-neuron network in phase 1 with biases on one
//   sample, one thread (the training runs in the GUI thread). Baseline "loop": plain loops doing the
//   step's multiply-adds (deltas and weight updates) on the same arrays
//   (vectorised for the machine). Goal: within 2 times.
// Checks: the forward passes' outputs and the trained weights equal those of
// the scalar twin (the plain network path) run on the same inputs after the
// timed runs.
#include <benchmark/benchmark.h>

#include <functional>
#include <random>
#include <span>
#include <thread>
#include <vector>

#include "core/settings.h"
#include "kernels/network/network_forward.h"
#include "kernels/network/network_training.h"
#include "kernels/network/network_weights.h"
#include "kernels/network/neural_tables.h"
#include "network_matvec.h"
#include "peer_measure.h"
#include "plain_loops.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "platform/vector_lanes.h"

#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {
namespace {

constexpr int Columns = 256;

// A network of the type with weights in [-0.25, 0.25) and small biases.
void MakeNetwork(int32_t type, int32_t n, int32_t inputTop) {
  BuildTanhTable();
  Settings.NetworkSetting = 0.5;
  InitNetwork(n, n, inputTop, 42);
  Network.TypeCode = type;
  Network.Rate = 0.01;
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(-0.1f, 0.1f);
  for (float& b : Network.B1) b = u(rng);
  for (float& b : Network.B2) b = u(rng);
  for (float& b : Network.Bo) b = u(rng);
}

// The input plane the vectors are taken from: row y, column x gives inputs
// plane[y][x .. x + N].
std::vector<float> InputPlane(int rows) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  std::vector<float> v(size_t(rows) * (Columns + 64));
  for (float& x : v) x = u(rng);
  return v;
}

void FillInputs(float* x, const std::vector<float>& plane, int y, int column, int32_t inputTop) {
  const float* p = plane.data() + size_t(y) * (Columns + 64) + size_t(column);
  for (int32_t i = 0; i <= inputTop; ++i) x[i] = p[i];
}

using bench::MatVec;

void MatVecRowsSse(const TNetworkWeights& net, const std::vector<float>& plane, float* out, int32_t inputTop,
                   int64_t first, int64_t last) {
  alignas(32) float x[64], h1[1024], h2[32];
  for (int64_t y = first; y < last; ++y)
    for (int c = 0; c < Columns; ++c) {
      FillInputs(x, plane, int(y), c, inputTop);
      MatVec<simd::TVec4f>(net, x, h1, h2, out + (size_t(y) * Columns + size_t(c)) * 4, inputTop);
    }
}
#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 void MatVecRowsAvx2(const TNetworkWeights& net, const std::vector<float>& plane, float* out,
                                  int32_t inputTop, int64_t first, int64_t last) {
  alignas(32) float x[64], h1[1024], h2[32];
  for (int64_t y = first; y < last; ++y)
    for (int c = 0; c < Columns; ++c) {
      FillInputs(x, plane, int(y), c, inputTop);
      MatVec<simd::TVec8f>(net, x, h1, h2, out + (size_t(y) * Columns + size_t(c)) * 4, inputTop);
    }
}
#endif

void MatVecRows(const TNetworkWeights& net, const std::vector<float>& plane, float* out, int32_t inputTop,
                int64_t first, int64_t last) {
#if ASTRELON_HAVE_AVX2
  if (CpuHasAvx2()) return MatVecRowsAvx2(net, plane, out, inputTop, first, last);
#endif
  MatVecRowsSse(net, plane, out, inputTop, first, last);
}

void ForwardRows(const std::vector<float>& plane, float* out, int32_t inputTop, int64_t first, int64_t last) {
  TNetworkPass pass;
  for (int64_t y = first; y < last; ++y)
    for (int c = 0; c < Columns; ++c) {
      FillInputs(pass.X.data(), plane, int(y), c, inputTop);
      ForwardNetwork(Network, pass, inputTop, Network.Top, true, true);
      float* o = out + (size_t(y) * Columns + size_t(c)) * 4;
      for (size_t k = 0; k < 4; ++k) o[k] = pass.Y[k];
    }
}

// args: type, n, input top, threads (0: every core).
void BM_ForwardNetwork(benchmark::State& state) {
  const int32_t type = int32_t(state.range(0)), n = int32_t(state.range(1)), inputTop = int32_t(state.range(2));
  const int threads = state.range(3) > 0 ? int(state.range(3)) : int(std::max(1u, std::thread::hardware_concurrency()));
  SseEnabled = true;
  Avx2Enabled = true;
  MakeNetwork(type, n, inputTop);
  // Enough rows that each thread works for milliseconds.
  const int Rows = threads > 1 ? 1024 : 128;
  const std::vector<float> plane = InputPlane(Rows);
  std::vector<float> out(size_t(Rows) * Columns * 4), base(out.size());
  const TNetworkWeights& net = Network;
  const std::function<void()> forward = [&] {
    ForEachBand(Rows, threads, [&](int64_t a, int64_t b) { ForwardRows(plane, out.data(), inputTop, a, b); });
    benchmark::DoNotOptimize(out.data());
  };
  bench::Measure(
      state, forward,
      {{"loop",
        [&] {
          ForEachBand(Rows, threads,
                      [&](int64_t a, int64_t b) { MatVecRows(net, plane, base.data(), inputTop, a, b); });
          benchmark::DoNotOptimize(base.data());
        },
        1.5}},
      {},
      [&] { bench::ExpectTwin([&] { return std::vector<std::vector<float>>{out}; }, {}, forward, 0, "network outputs"); });
  state.counters["threads"] = threads;
  state.counters["passes"] = Rows * Columns;
}

// The step's multiply-adds in plain loops: output errors, layer-2 and layer-1
// deltas, the updates of Wout, W2 and W1.
void PlainTrainStep(TNetworkWeights& net, const TNetworkPass& p, double rate) {
  const int32_t neurons = net.Top + 1, inputs = net.InputTop + 1;
  const float r = float(rate);
  for (size_t o = 0; o < 4; ++o) net.E[o] = (net.T[o] - p.Y[o]) * 0.5f;
  for (int32_t k = 0; k < NetworkLayer2Size; ++k) {
    float s = 0;
    for (size_t o = 0; o < 4; ++o) s += net.E[o] * net.Wout[size_t(k) * 4 + o];
    net.D2[size_t(k)] = s * (1 - p.H2[size_t(k)] * p.H2[size_t(k)]);
  }
  for (int32_t j = 0; j < neurons; ++j) {
    float s = 0;
    for (int32_t k = 0; k < NetworkLayer2Size; ++k) s += net.D2[size_t(k)] * net.W2[size_t(j) * NetworkW2Stride + size_t(k)];
    net.D1[size_t(j)] = s * (1 - p.H1[size_t(j)] * p.H1[size_t(j)]);
  }
  for (int32_t k = 0; k < NetworkLayer2Size; ++k)
    for (size_t o = 0; o < 4; ++o) net.Wout[size_t(k) * 4 + o] += r * net.E[o] * p.H2[size_t(k)];
  for (int32_t j = 0; j < neurons; ++j)
    for (int32_t k = 0; k < NetworkLayer2Size; ++k)
      net.W2[size_t(j) * NetworkW2Stride + size_t(k)] += r * net.D2[size_t(k)] * p.H1[size_t(j)];
  for (int32_t i = 0; i < inputs; ++i)
    for (int32_t j = 0; j < neurons; ++j) net.W1[size_t(i) * size_t(net.Stride) + size_t(j)] += r * net.D1[size_t(j)] * p.X[size_t(i)];
}

void BM_TrainStep(benchmark::State& state) {
  constexpr int Steps = 4000;
  SseEnabled = true;
  Avx2Enabled = true;
  MakeNetwork(3, 36, 36);
  const std::vector<float> plane = InputPlane(16);
  // One sample with its forward pass done beforehand; every step learns it.
  FillInputs(NetworkPass.X.data(), plane, 5, 9, 36);
  ForwardNetwork(36, 36, true, true);
  Network.T = {0.1f, -0.2f, 0.3f, 0.05f};
  const TNetworkWeights start = Network;
  TNetworkWeights plain = Network;
  const std::function<void()> train = [] {
    for (int s = 0; s < Steps; ++s) TrainStep(36, 36, true);
    benchmark::DoNotOptimize(Network.W1.data());
  };
  bench::Measure(
      state, train,
      {{"loop",
        [&] {
          bench::PlainVector([&] {
            for (int s = 0; s < Steps; ++s) PlainTrainStep(plain, NetworkPass, plain.Rate);
          });
          benchmark::DoNotOptimize(plain.W1.data());
        },
        2.0}},
      [&] {
        Network = start;
        plain = start;
      },
      [&] {
        bench::ExpectTwin(
            [] {
              return std::vector<std::vector<float>>{{Network.W1.begin(), Network.W1.end()},
                                                     {Network.W2.begin(), Network.W2.end()},
                                                     {Network.Wout.begin(), Network.Wout.end()}};
            },
            [&] { Network = start; }, train, 0, "trained weights");
      });
  state.counters["steps"] = Steps;
}

ASTRELON_FIGURES(BM_ForwardNetwork, "loop");
BENCHMARK(BM_ForwardNetwork)
    ->ArgNames({"type", "n", "N", "threads"})
    ->Args({3, 36, 36, 1})
    ->Args({14, 200, 60, 1})
    ->Args({3, 36, 36, 0})
    ->Args({14, 200, 60, 0})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);
ASTRELON_FIGURES(BM_TrainStep, "loop");
BENCHMARK(BM_TrainStep)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
}  // namespace astrelon

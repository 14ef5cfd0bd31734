// Speed of the network debayer ("Bayer, Neuronales Netzwerk", one thread) on a
// 1200 x 800 mosaic with a 37-input, 37-neuron debayer network, against a plain
// loop on one thread that calls the forward pass once per red and blue site of
// the same rows (figure "plain", goal: within 1.2x, so the window gathering and
// the writing stay cheap; no library runs this network). Check: the routine
// reports success and its colour image equals that of the scalar twin (the
// vector loops off) on the same mosaic after the timed runs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "bench_folder.h"
#include "kernels/mosaic/mosaic_settings.h"
#include "peer_measure.h"
#include "kernels/network/network_file.h"
#include "kernels/network/network_forward.h"
#include "kernels/network/network_weights.h"
#include "kernels/network/neural_tables.h"
#include "pixelops/mosaic/debayer_nn.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Width = 1200, Height = 800, Top = 36;

// A type-2 network file of Top + 1 neurons with small random weights and biases.
std::string NetworkFile(const bench::TBenchFolder& folder) {
  const std::string path = folder.Path + "/debayer.nnb";
  std::ofstream f(path, std::ios::binary);
  auto put = [&f](auto v) { f.write(reinterpret_cast<const char*>(&v), sizeof(v)); };
  std::mt19937 rng(9);
  std::uniform_real_distribution<float> u(-0.2f, 0.2f);
  put(int32_t(2));
  put(int32_t(Top));
  for (int i = 0; i < (Top + 1) * (37 + 21) + 21 * 4; ++i) put(u(rng));
  put(0.01);
  put(int32_t(Top));
  for (int i = 0; i < Top + 1 + 21 + 4; ++i) put(u(rng));
  return path;
}

void PutSlot(int slot, int planes) {
  TImageSlot& im = Store.Image[size_t(slot)];
  im.Width = Width;
  im.Height = Height;
  im.PlaneCount = planes;
  im.IsColor = planes == 3;
  im.AllocatePlanes(planes);
  std::mt19937 rng(3);
  std::normal_distribution<float> noise(0.0f, 40.0f);
  for (int p = 1; p <= planes; ++p)
    for (int y = 0; y < Height; ++y)
      for (int x = 0; x < Width; ++x)
        im.Planes[size_t(p)][size_t(y) * Width + size_t(x)] =
            3000.0f + 800.0f * float((x & 1) + (y & 1)) + 0.5f * float(x) + noise(rng);
  Store.InUse[size_t(slot)] = 1;
  Store.FileName[size_t(slot)] = "/tmp/mosaic.fit";
  MakeDefaultHeader(slot);
  UpdateMinMax(slot);
}

// The forward pass once per red and blue site of the debayer's rows.
void PlainLoop() {
  const float* m = Store.Image[1].Planes[1].data();
  float sum = 0;
  for (int y = 3; y <= Height - 4; ++y)
    for (int x = 3 + (y & 1); x <= Width - 4; x += 2) {
      NetworkPass.X.fill(m[size_t(y) * Width + size_t(x)] * 1e-4f);
      ForwardNetwork(Top, Top, false, true);
      sum += NetworkPass.Y[0];
    }
  benchmark::DoNotOptimize(sum);
}

void BM_DebayerNN(benchmark::State& state) {
  Store.Reset();
  BuildTanhTable();
  MosaicPattern = {McRed, McGreen, McGreen, McBlue, -1, -1, -1, -1};
  const bench::TBenchFolder folder("debayer");
  const std::string file = NetworkFile(folder);
  PutSlot(1, 1);
  int32_t n = 0, current = 0, inputTop = 0;
  if (!LoadNetworkFile(file, n, current, inputTop)) {
    state.SkipWithError("network not loaded");
    return;
  }
  bench::WithThreads(state, 1, [&] {
    const std::function<void()> debayer = [&] {
      if (!DebayerNN(1, 2, file)) bench::Fail("not run");
    };
    bench::Measure(state, debayer, {{"plain", PlainLoop, 1.2}}, [] { PutSlot(2, 3); }, [&] {
      bench::ExpectTwin([] { return bench::SlotPlanes(2); }, [] { PutSlot(2, 3); }, debayer, 0, "debayered image");
    });
  });
  Store.Reset();
}
ASTRELON_FIGURES(BM_DebayerNN, "plain");

BENCHMARK(BM_DebayerNN)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(4);

}  // namespace
}  // namespace astrelon

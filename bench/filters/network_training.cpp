// Speed of the network training loop: a two-times training (n = 36, N = 36,
// two layers, full size) on a 2048 x 2048 goal and its half-size copy, in the
// calling thread as the program runs it, 200000 samples (no evaluation falls
// among them). The loop with Qt's event processing (at most every few
// milliseconds) against:
// - "noevents": the same loop without event processing; goal within 1.1 times;
// - "bare": a plain loop of ForwardNetwork and TrainStep on the same samples
//   (inputs and targets recorded beforehand); goal within 1.3 times, so that
//   choosing positions, building inputs and turning samples cost little.
// Every run starts from the same network and seed. The counter
// "samples_per_s" is the loop's rate with events. Check: the loop with events
// trains the same weights as the one without (the same work), and as the
// scalar twin of the one without (the plain network path).
#include "kernels/network/network_training.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <cmath>
#include <random>
#include <vector>

#include "core/settings.h"
#include "filters/training/training_loop.h"
#include "filters/training/training_options.h"
#include "filters/training/two_times_training.h"
#include "kernels/network/network_forward.h"
#include "kernels/network/network_phases.h"
#include "kernels/network/network_weights.h"
#include "kernels/network/neural_tables.h"
#include "peer_measure.h"
#include "platform/processor_features.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Size = 2048;
constexpr int64_t Samples = 200000;

void PutGrey(int slot, int w, int h, const std::function<float(int, int)>& value) {
  TImageSlot& im = Store.Image[size_t(slot)];
  im.Width = w;
  im.Height = h;
  im.PlaneCount = 1;
  im.Planes[1].resize(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) im.Planes[1][size_t(y) * size_t(w) + size_t(x)] = value(x, y);
  Store.InUse[size_t(slot)] = 1;
  MakeDefaultHeader(slot);
  UpdateMinMax(slot);
}

// Slot 2 the goal, slot 1 its half-size copy, slot 3 the result.
void MakeImages() {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> noise(-8.0f, 8.0f);
  PutGrey(2, Size, Size, [&](int x, int y) {
    return float(1000 + 300 * std::sin(0.02 * x) * std::cos(0.017 * y) + (((x / 64) + (y / 64)) % 2) * 200) +
           noise(rng);
  });
  const TImageSlot& g = Store.Image[2];
  PutGrey(1, Size / 2, Size / 2, [&](int x, int y) {
    return (g.At(1, 2 * x, 2 * y) + g.At(1, 2 * x + 1, 2 * y) + g.At(1, 2 * x, 2 * y + 1) +
            g.At(1, 2 * x + 1, 2 * y + 1)) /
           4;
  });
  CopyImageSlot(2, 3);
}

class TEventView : public TTrainingView {
public:
  void ProcessEvents() override { QCoreApplication::processEvents(); }
};

// Records the inputs and targets of every sample trained.
class TRecorder : public TTwoTimesTraining {
public:
  using TTwoTimesTraining::TTwoTimesTraining;
  bool Sample(int32_t x, int32_t y, int rotation, int mirror, std::mt19937& rng) override {
    if (!TTwoTimesTraining::Sample(x, y, rotation, mirror, rng)) return false;
    Inputs.insert(Inputs.end(), NetworkPass.X.begin(), NetworkPass.X.begin() + 37);
    Targets.insert(Targets.end(), Network.T.begin(), Network.T.end());
    return true;
  }
  std::vector<float> Inputs, Targets;
};

void BM_TrainingLoop(benchmark::State& state) {
  int argc = 1;
  char name[] = "bench";
  char* argv[] = {name};
  QCoreApplication app(argc, argv);
  SseEnabled = true;
  Avx2Enabled = true;
  Store.Reset();
  MakeImages();
  BuildTanhTable();
  Settings.NetworkSetting = 0.5;
  InitNetwork(36, 36, 36, 42);
  Network.TypeCode = 3;
  Network.Rate = 0.05;
  const TNetworkWeights start = Network;
  TrainingControls.BaseSteps = TrainingControls.PhaseSteps = int64_t(Size) * Size / 8;
  TrainingControls.Phase2Enabled = true;
  TrainingOptions = {};
  TrainingOptions.Rotated = TrainingOptions.Mirrored = true;
  const TTrainingLimits limits{Samples, false};

  TRecorder recorder(1, 2, 3);
  {
    std::mt19937 rng(1);
    TTrainingView quiet;
    RunNetworkTraining(recorder, quiet, rng, {}, limits);
  }
  TTwoTimesTraining kind(1, 2, 3);
  auto loop = [&](TTrainingView& view) {
    std::mt19937 rng(1);
    RunNetworkTraining(kind, view, rng, {}, limits);
    benchmark::DoNotOptimize(Network.W1.data());
  };
  TEventView events;
  TTrainingView none;
  bench::Measure(
      state,
      [&] {
        Network = start;
        loop(events);
      },
      {{"noevents",
        [&] {
          Network = start;
          loop(none);
        },
        1.1},
       {"bare",
        [&] {
          Network = start;
          const size_t count = recorder.Targets.size() / 4;
          for (size_t s = 0; s < count; ++s) {
            std::copy_n(recorder.Inputs.begin() + std::ptrdiff_t(37 * s), 37, NetworkPass.X.begin());
            std::copy_n(recorder.Targets.begin() + std::ptrdiff_t(4 * s), 4, Network.T.begin());
            ForwardNetwork(36, 36, true, false);
            TrainStep(36, 36, false);
          }
          benchmark::DoNotOptimize(Network.W1.data());
        },
        1.3}},
      [&] { Network = start; },
      [&] {
        const TNetworkWeights trained = Network;
        Network = start;
        loop(none);
        bench::ExpectNear(trained.W1, Network.W1, 0, "layer-1 weights against the loop without events");
        bench::ExpectNear(trained.W2, Network.W2, 0, "layer-2 weights against the loop without events");
        bench::ExpectNear(trained.Wout, Network.Wout, 0, "output weights against the loop without events");
        // And the same weights from the scalar twin (the plain network path).
        bench::ExpectTwin(
            [] {
              return std::vector<std::vector<float>>{{Network.W1.begin(), Network.W1.end()},
                                                     {Network.W2.begin(), Network.W2.end()},
                                                     {Network.Wout.begin(), Network.Wout.end()}};
            },
            [&] { Network = start; }, [&] { loop(none); }, 0, "trained weights");
      });
  state.counters["samples_per_s"] = double(Samples) / (state.counters["ms"] / 1e3);
  Store.Reset();
}

ASTRELON_FIGURES(BM_TrainingLoop, "noevents", "bare");
BENCHMARK(BM_TrainingLoop)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace astrelon

#include "filters/training/training_loop.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>

#include "filters/training/structure_map.h"
#include "filters/training/training_options.h"
#include "filters/training/training_positions.h"
#include "kernels/network/network_forward.h"
#include "kernels/network/network_phases.h"
#include "kernels/network/network_training.h"
#include "kernels/network/network_weights.h"

namespace astrelon {

namespace {

using Clock = std::chrono::steady_clock;
// Pending events run at most this often during the loop.
constexpr auto EventInterval = std::chrono::milliseconds(5);
// Positions the kind refuses one after another before the loop gives up.
constexpr int MaxRefusedPositions = 100000;

class TLoop {
public:
  TLoop(TTrainingKind& kind, TTrainingView& view) : kind_(kind), view_(view) {}

  // Pending events when their time has come; false once the abort flag is raised.
  bool Poll() {
    const auto now = Clock::now();
    if (now - lastEvents_ >= EventInterval) {
      lastEvents_ = now;
      view_.ProcessEvents();
    }
    if (!kind_.Intact()) AbortRequested = 1;
    return !AbortRequested;
  }

  // The whole result image (when asked), the picture and the error.
  void Evaluate(bool whole) {
    if (whole) {
      const int slot = kind_.ResultSlot();
      kind_.ComputeResult([&](int percent) {
        view_.ShowProgress(slot, percent);
        return Poll();
      });
      view_.ShowProgress(slot, -1);
    }
    view_.Redraw(kind_.ResultSlot());
    view_.ShowError(kind_.ErrorText());
  }

  // The rate, the update window and the automatic phase switching after an
  // evaluation; false when the training is to end.
  bool AdjustRate() {
    TNetworkWeights& net = Network;
    TTrainingControls& c = TrainingControls;
    const int phase = std::clamp(net.Phase, 1, 3);
    const double before = net.Rate;
    const double threshold = c.Thresholds[size_t(phase - 1)];
    const bool turn = kind_.Turnable();
    const double K =
        TrainingDecayConstant(turn && TrainingOptions.Rotated, turn && TrainingOptions.Mirrored) * kind_.DecayFactor();
    const bool hold = phase == 1 && net.Current < net.Top && TrainingOptions.AutoPhase;
    net.Rate = DecayedTrainingRate(before, c.PhaseSteps, net.Top, K, hold, c.Thresholds[0]);
    if (phase >= 2) BuildTableUpdateWindow(int32_t(std::nearbyint(net.Rate * 515 - 0.25)));
    c.RateText = TrainingNumberText(net.Rate);
    if (!TrainingOptions.AutoPhase || !(net.Rate < threshold) || before < threshold) return true;
    if (phase == 1)
      SwitchToPhase2();
    else if (phase == 2)
      SwitchToPhase3();  // a network without a second layer ends here (abort flag)
    else
      return false;
    return true;
  }

  // Every G + 1 evaluations the network grows by n / 50 + 1 neurons.
  void Grow(int64_t evaluations) {
    TNetworkWeights& net = Network;
    const int32_t n = net.Top;
    const int64_t g = std::max<int64_t>(1, std::llround(16 / std::sqrt(double(std::max(n, 1)))));
    if (evaluations % (g + 1) != 0 || net.Current >= n) return;
    net.Current = std::min(n, net.Current + n / 50 + 1);
    if (net.Current == n) TrainingControls.Phase2Enabled = true;
  }

private:
  TTrainingKind& kind_;
  TTrainingView& view_;
  Clock::time_point lastEvents_{};
};

}  // namespace

double TrainingDecayConstant(bool rotated, bool mirrored) {
  return rotated && mirrored ? 600000.0 : rotated || mirrored ? 470000.0 : 300000.0;
}

double DecayedTrainingRate(double rate, int64_t phaseSteps, int32_t n, double K, bool holdForGrowth,
                           double phase1Threshold) {
  const double decayed = std::max(rate / (double(phaseSteps) / ((std::sqrt(double(n)) + 5) * K) + 1.0002), 1e-6);
  if (!holdForGrowth) return decayed;
  const double hold = 1.2 * phase1Threshold;
  return rate <= hold ? rate : std::max(decayed, hold);
}

int64_t RunNetworkTraining(TTrainingKind& kind, TTrainingView& view, std::mt19937& rng,
                           const std::vector<TRectI>& areas, const TTrainingLimits& limits) {
  TLoop loop(kind, view);
  TTrainingPositions positions(BuildStructureMap(kind.PositionSlot()), areas);
  int64_t samples = 0, sinceEvaluation = 0, evaluations = 0;
  int refused = 0;
  if (!kind.Intact()) return 0;
  // The positions come from a generator of their own, drawn 16 samples
  // ahead. Every 8 samples the pixels of the 8 samples after the next 8 are
  // read in one burst, so that the reads overlap and those samples find them
  // in the cache (random positions in large images would otherwise wait for
  // memory at every sample).
  std::mt19937 positionRng(rng());
  constexpr size_t Ahead = 16, Burst = Ahead / 2;
  std::array<std::pair<int32_t, int32_t>, Ahead> upcoming{};
  for (auto& [ux, uy] : upcoming) {
    if (!positions.Next(positionRng, ux, uy)) return 0;
    kind.Prefetch(ux, uy);
  }
  size_t head = 0;
  if (limits.FirstEvaluation && !AbortRequested) loop.Evaluate(true);
  view.ShowState();
  while (loop.Poll() && (limits.MaxSamples <= 0 || samples < limits.MaxSamples)) {
    const auto [x, y] = upcoming[head];
    positions.Next(positionRng, upcoming[head].first, upcoming[head].second);
    head = (head + 1) % Ahead;
    if (head % Burst == 0)
      for (size_t k = Burst; k < Ahead; ++k) {
        const auto& [ux, uy] = upcoming[(head + k) % Ahead];
        kind.Prefetch(ux, uy);
      }
    int rotation = 0, mirror = 0;
    if (kind.Turnable()) {
      if (TrainingOptions.Rotated) rotation = std::uniform_int_distribution<int>(0, 3)(rng);
      if (TrainingOptions.Mirrored)
        mirror = std::uniform_int_distribution<int>(0, TrainingOptions.Rotated ? 1 : 2)(rng);
    }
    if (!kind.Sample(x, y, rotation, mirror, rng)) {
      if (++refused > MaxRefusedPositions) break;
      continue;
    }
    refused = 0;
    const int32_t N = Network.InputTop;
    ForwardNetwork(N, Network.Current, kind.AddBase(), kind.UseBias());
    TrainStep(N, Network.Current, kind.UseBias());
    if (!TrainingOptions.GoodImage) kind.WriteSample();
    ++samples;
    if (++sinceEvaluation < TrainingControls.PhaseSteps) continue;
    sinceEvaluation = 0;
    loop.Evaluate(TrainingOptions.GoodImage);
    if (!loop.AdjustRate()) break;
    loop.Grow(++evaluations);
    view.ShowState();
  }
  return samples;
}

}  // namespace astrelon

#pragma once
// The training loop that the three network trainings share, in the calling
// (GUI) thread: samples at random positions weighted towards structure, a
// forward pass and a training step each; after every phase's step count an
// evaluation: the result image (whole or at the trained blocks), its error,
// the lower learning rate, growth of the neurons in use and the automatic
// phase switching.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "filters/training/training_kind.h"
#include "store/image_store.h"

namespace astrelon {

// What the loop shows and lets happen; the training panel implements it.
class TTrainingView {
public:
  virtual ~TTrainingView() = default;
  // Pending events (the panel's buttons, Esc); the loop calls it at most every
  // few milliseconds.
  virtual void ProcessEvents() {}
  // The progress of computing the whole result image ("Bild berechnen").
  virtual void ShowProgress(int slot, int percent) {}
  virtual void Redraw(int slot) {}
  // The error text after an evaluation.
  virtual void ShowError(const std::string& text) {}
  // The rate, the neurons in use and the phase buttons as they are now.
  virtual void ShowState() {}
};

struct TTrainingLimits {
  int64_t MaxSamples = 0;       // stop after this many samples (0: until interrupted)
  bool FirstEvaluation = true;  // compute the result and its error before the first sample
};

// Decay constant of the rate: 300000, 470000 when samples are turned or
// mirrored, 600000 when both.
double TrainingDecayConstant(bool rotated, bool mirrored);

// The rate after an evaluation: rate / (phaseSteps / ((sqrt(n) + 5) K) +
// 1.0002), at least 1e-6; in phase 1 while the network grows with automatic
// switching it does not go below 1.2 times the phase-1 threshold (a rate
// already below stays).
double DecayedTrainingRate(double rate, int64_t phaseSteps, int32_t n, double K, bool holdForGrowth,
                           double phase1Threshold);

// The loop until the abort flag (Esc, "&Unterbrechen (ESC)"), the end of the
// last phase under automatic switching, or the sample limit. The positions
// keep to `areas` (image rectangles of the position image) when given. The
// number of samples trained.
int64_t RunNetworkTraining(TTrainingKind& kind, TTrainingView& view, std::mt19937& rng,
                           const std::vector<TRectI>& areas = {}, const TTrainingLimits& limits = {});

}  // namespace astrelon

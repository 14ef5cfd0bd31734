#pragma once
// What the three network trainings (two-times enlargement, universal filter,
// debayer filter) tell the common training loop: where positions are drawn,
// how a sample's inputs and targets are made and its outputs shown, how the
// whole result image is computed and how far it is from its goal.
#include <cstdint>
#include <functional>
#include <random>
#include <string>

#include "filters/training/slot_guard.h"

namespace astrelon {

class TTrainingKind {
public:
  virtual ~TTrainingKind() = default;
  // The image whose pixels are the training positions (its structure weighs them).
  virtual int PositionSlot() const = 0;
  // The image that shows the training's result.
  virtual int ResultSlot() const = 0;
  // The forward pass's flags.
  virtual bool AddBase() const = 0;
  virtual bool UseBias() const = 0;
  // Whether samples may be turned and mirrored.
  virtual bool Turnable() const = 0;
  // Factor of the rate's decay constant.
  virtual double DecayFactor() const { return 1.0; }
  // The sample at (x, y) turned by `rotation` and `mirror`: its inputs into
  // the engine's record (NetworkPass.X), its targets into Network.T. False
  // when the position cannot be used.
  virtual bool Sample(int32_t x, int32_t y, int rotation, int mirror, std::mt19937& rng) = 0;
  // The sample at (x, y) comes soon: its pixels may be read into the cache.
  virtual void Prefetch(int32_t x, int32_t y) const {}
  // After the step: the outputs of the sample's forward pass into the result.
  virtual void WriteSample() = 0;
  // The whole result image with the network as it is; `poll` (percent done)
  // is asked between rows and stops it with false. False when stopped.
  virtual bool ComputeResult(const std::function<bool(int percent)>& poll) = 0;
  // The error of the result image as the status bar shows it.
  virtual std::string ErrorText() const = 0;
  // Whether the images of the training are all still there as they were.
  bool Intact() const { return Guard.Intact(); }

protected:
  TSlotGuard Guard;
};

}  // namespace astrelon

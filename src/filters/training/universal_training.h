#pragma once
// The universal-filter training's samples: a pixel of the input image as the
// network filter sees it (the same base, inputs and block layout), the goal
// image at the same position as targets; turned samples take their targets
// from the turned block. The result is the input filtered by the network.
#include "filters/network/network_filter_blocks.h"
#include "filters/training/training_kind.h"

namespace astrelon {

class TUniversalTraining : public TTrainingKind {
public:
  // `input`, `goal` (at least the input's size) and `result` (a copy of the
  // input). Values are scaled around the input's middle by half its value
  // range, as the filter will scale them.
  TUniversalTraining(int input, int goal, int result);

  int PositionSlot() const override { return input_; }
  int ResultSlot() const override { return result_; }
  bool AddBase() const override;
  // Biases only where the filter applies them (type codes above 2).
  bool UseBias() const override;
  bool Turnable() const override;
  double DecayFactor() const override { return colour_ ? 1.5 : 1.0; }
  bool Sample(int32_t x, int32_t y, int rotation, int mirror, std::mt19937& rng) override;
  void Prefetch(int32_t x, int32_t y) const override;
  void WriteSample() override;
  bool ComputeResult(const std::function<bool(int percent)>& poll) override;
  std::string ErrorText() const override;

  // The goal pixels of a sample's four targets relative to it, by rotation
  // (0..3) and mirror (0..2).
  static const TBlockOffsets& TargetBlock(int rotation, int mirror);

private:
  int input_, goal_, result_;
  bool colour_ = false;
  TNetworkFilterPlane f_;
  // The last sample: position, block and base.
  int32_t x_ = 0, y_ = 0;
  const TBlockOffsets* block_ = &StraightBlock;
  double base_ = 0;
};

}  // namespace astrelon

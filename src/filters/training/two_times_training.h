#pragma once
// The two-times training's samples: a pixel of the reduced image and its
// neighbourhood as inputs, the 2 x 2 block at twice its position in the goal
// image as targets, turned together; the result is the reduced image enlarged
// by the network.
#include <array>

#include "filters/training/training_kind.h"

namespace astrelon {

class TTwoTimesTraining : public TTrainingKind {
public:
  // `reduced`: the input (half the goal's size); `goal`: the grey image to
  // reach; `result`: a slot that becomes twice the reduced image's size. The
  // values are scaled by half the goal's value range.
  TTwoTimesTraining(int reduced, int goal, int result);

  int PositionSlot() const override { return reduced_; }
  int ResultSlot() const override { return result_; }
  bool AddBase() const override { return true; }
  bool UseBias() const override;
  bool Turnable() const override { return true; }
  bool Sample(int32_t x, int32_t y, int rotation, int mirror, std::mt19937& rng) override;
  void Prefetch(int32_t x, int32_t y) const override;
  void WriteSample() override;
  bool ComputeResult(const std::function<bool(int percent)>& poll) override;
  std::string ErrorText() const override;

private:
  int reduced_, goal_, result_;
  double scale_ = 1;
  // The last sample: its position, turn and centre value.
  int32_t x_ = 0, y_ = 0;
  int rotation_ = 0, mirror_ = 0;
  float centre_ = 0;
};

// " RMSE= " and the error with 4 decimals, as the status bar shows it.
std::string RmseText(double rmse);

}  // namespace astrelon

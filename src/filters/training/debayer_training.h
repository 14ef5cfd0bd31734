#pragma once
// The debayer training's samples: a colour mosaic simulated from a colour
// image around a position, centred on a red site (or, with red and blue
// exchanged, a blue one), as the network debayer reads it; the targets are
// the green value at the site and the site's own colour at its right, lower
// and lower-right neighbours, each relative to its colour's mean in the
// window.
#include <array>
#include <functional>

#include "filters/training/training_kind.h"

namespace astrelon {

class TDebayerTraining : public TTrainingKind {
public:
  // `colour`: the RGB image; `result`: its copy, showing the progress.
  // `computeResult` computes the whole result image with the network in
  // memory (the network debayer of a mosaic made from the colour image).
  TDebayerTraining(int colour, int result, std::function<bool(const std::function<bool(int)>& poll)> computeResult);

  int PositionSlot() const override { return colour_; }
  int ResultSlot() const override { return result_; }
  bool AddBase() const override { return false; }
  bool UseBias() const override { return true; }
  bool Turnable() const override { return false; }
  bool Sample(int32_t x, int32_t y, int rotation, int mirror, std::mt19937& rng) override;
  void Prefetch(int32_t x, int32_t y) const override;
  void WriteSample() override;
  bool ComputeResult(const std::function<bool(int percent)>& poll) override;
  // " RMSE 1: ", " RMSE grün: " and " RMSE 3: " with each plane's error
  // inside a border of 4.
  std::string ErrorText() const override;

  // The colour (1 red, 2 green, 3 blue) of each window cell of the
  // simulated mosaic, rows dy = -3..3, columns dx = -3..3 (the centre red).
  static int CellPlane(int32_t dx, int32_t dy);

private:
  int colour_, result_;
  std::function<bool(const std::function<bool(int)>& poll)> computeResult_;
  double scale_ = 1;
  // The last sample: its position, the planes of the site's own colour and
  // the means of green and of that colour.
  int32_t x_ = 0, y_ = 0;
  int own_ = 1;
  double greenMean_ = 0, ownMean_ = 0;
};

}  // namespace astrelon

#include "filters/training/debayer_training.h"

#include <cmath>

#include "common/pascal_format.h"
#include "filters/training/image_rms_difference.h"
#include "kernels/network/debayer_window.h"
#include "kernels/network/network_weights.h"
#include "store/image_store.h"

namespace astrelon {

int TDebayerTraining::CellPlane(int32_t dx, int32_t dy) {
  const bool odd = (dx & 1) != 0;
  if ((dy & 1) != 0) return odd ? 3 : 2;  // blue and green rows
  return odd ? 2 : 1;                     // green and red rows
}

TDebayerTraining::TDebayerTraining(int colour, int result,
                                   std::function<bool(const std::function<bool(int)>& poll)> computeResult)
    : colour_(colour), result_(result), computeResult_(std::move(computeResult)) {
  const TImageSlot& c = Store.Image[size_t(colour_)];
  const double range = double(c.MaxValue) - double(c.MinValue);
  scale_ = range > 0 && std::isfinite(range) ? range / 2 : 1.0;
  for (const int slot : {colour_, result_}) Guard.Watch(slot);
}

bool TDebayerTraining::Sample(int32_t x, int32_t y, int, int, std::mt19937& rng) {
  const TImageSlot& c = Store.Image[size_t(colour_)];
  if (x + 1 >= c.Width || y + 1 >= c.Height) return false;
  const bool swap = std::uniform_int_distribution<int>(0, 1)(rng) != 0;
  auto plane = [swap](int cell) { return swap ? 4 - cell : cell; };
  std::array<double, 4> sum{}, count{};
  std::array<float, DebayerInputCount> value{};
  std::array<int, DebayerInputCount> cellOf{};
  for (int32_t dy = -3; dy <= 3; ++dy)
    for (int32_t dx = -3; dx <= 3; ++dx) {
      const int input = DebayerWindowInput[size_t(dy + 3)][size_t(dx + 3)];
      if (input < 0) continue;
      const int cell = CellPlane(dx, dy);
      const float v = c.At(plane(cell), x + dx, y + dy);
      value[size_t(input)] = v;
      cellOf[size_t(input)] = cell;
      sum[size_t(cell)] += v;
      count[size_t(cell)] += 1;
    }
  std::array<double, 4> mean{};
  for (size_t k = 1; k <= 3; ++k) mean[k] = count[k] > 0 ? sum[k] / count[k] : 0.0;
  const double inv = 1 / scale_;
  for (int i = 0; i < DebayerInputCount; ++i)
    NetworkPass.X[size_t(i)] = float((value[size_t(i)] - mean[size_t(cellOf[size_t(i)])]) * inv);
  own_ = plane(1);
  greenMean_ = mean[2];
  ownMean_ = mean[1];
  std::array<float, 4>& t = Network.T;
  t[0] = float((c.At(2, x, y) - greenMean_) * inv);
  t[1] = float((c.At(own_, x + 1, y) - ownMean_) * inv);
  t[2] = float((c.At(own_, x, y + 1) - ownMean_) * inv);
  t[3] = float((c.At(own_, x + 1, y + 1) - ownMean_) * inv);
  x_ = x;
  y_ = y;
  return true;
}

void TDebayerTraining::Prefetch(int32_t x, int32_t y) const {
  for (int p = 1; p <= 3; ++p) PrefetchWindow(Store.Image[size_t(colour_)], p, x, y, 3);
}

void TDebayerTraining::WriteSample() {
  TImageSlot& r = Store.Image[size_t(result_)];
  const std::array<float, 4>& o = NetworkPass.Y;
  r.At(2, x_, y_) = float(o[0] * scale_ + greenMean_);
  r.At(own_, x_ + 1, y_) = float(o[1] * scale_ + ownMean_);
  r.At(own_, x_, y_ + 1) = float(o[2] * scale_ + ownMean_);
  r.At(own_, x_ + 1, y_ + 1) = float(o[3] * scale_ + ownMean_);
}

bool TDebayerTraining::ComputeResult(const std::function<bool(int percent)>& poll) {
  return computeResult_ ? computeResult_(poll) : true;
}

std::string TDebayerTraining::ErrorText() const {
  auto rmse = [this](int plane) {
    return FloatToStrF(ImageRmsDifference(result_, colour_, 4, plane), TFloatFormat::Fixed, 5, 4);
  };
  return " RMSE 1: " + rmse(1) + " RMSE grün: " + rmse(2) + " RMSE 3: " + rmse(3);
}

}  // namespace astrelon

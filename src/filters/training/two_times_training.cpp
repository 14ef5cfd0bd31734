#include "filters/training/two_times_training.h"

#include <algorithm>
#include <cmath>

#include "common/pascal_format.h"
#include "filters/network/network_inputs.h"
#include "filters/network/network_rows.h"
#include "filters/network/upscale_x2_network.h"
#include "filters/training/image_rms_difference.h"
#include "filters/training/network_permutations.h"
#include "filters/training/training_options.h"
#include "kernels/network/network_weights.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

std::string RmseText(double rmse) { return " RMSE= " + FloatToStrF(rmse, TFloatFormat::Fixed, 5, 4); }

TTwoTimesTraining::TTwoTimesTraining(int reduced, int goal, int result)
    : reduced_(reduced), goal_(goal), result_(result) {
  const TImageSlot& g = Store.Image[size_t(goal_)];
  const double range = double(g.MaxValue) - double(g.MinValue);
  scale_ = range > 0 && std::isfinite(range) ? range / 2 : 1.0;
  const TImageSlot& in = Store.Image[size_t(reduced_)];
  TImageSlot& r = Store.Image[size_t(result_)];
  if (r.Width != 2 * in.Width || r.Height != 2 * in.Height || r.PlaneCount != 1) {
    r.Width = 2 * in.Width;
    r.Height = 2 * in.Height;
    r.PlaneCount = 1;
    r.IsColor = 0;
    r.AllocatePlanes(1);
    SetNaxisCards(result_);
  }
  for (const int slot : {reduced_, goal_, result_}) Guard.Watch(slot);
}

bool TTwoTimesTraining::UseBias() const { return Network.TypeCode > 10; }

bool TTwoTimesTraining::Sample(int32_t x, int32_t y, int rotation, int mirror, std::mt19937&) {
  const TImageSlot& in = Store.Image[size_t(reduced_)];
  const TImageSlot& g = Store.Image[size_t(goal_)];
  if (2 * x + 1 >= g.Width || 2 * y + 1 >= g.Height) return false;
  const float c = in.At(1, x, y);
  if (!IsValidPixel(c)) return false;
  const int32_t N = Network.InputTop;
  EvalNetworkAt(in, 1, x, y, N, c, scale_, Network.TypeCode <= 10, 0.0f, NetworkPass);
  PermuteNetworkInputs(N, rotation, mirror, NetworkPass.X.data());
  std::array<float, 4>& t = Network.T;
  for (int k = 0; k < 4; ++k) {
    const float v = g.At(1, 2 * x + (k & 1), 2 * y + (k >> 1));
    t[size_t(k)] = IsValidPixel(v) ? float((double(v) - c) / scale_) : 0.0f;
  }
  PermuteTargets(rotation, mirror, t);
  x_ = x;
  y_ = y;
  rotation_ = rotation;
  mirror_ = mirror;
  centre_ = c;
  return true;
}

void TTwoTimesTraining::Prefetch(int32_t x, int32_t y) const {
  PrefetchWindow(Store.Image[size_t(reduced_)], 1, x, y, Network.InputTop > 36 ? 6 : 3);
  PrefetchWindow(Store.Image[size_t(goal_)], 1, 2 * x, 2 * y, 1);
  if (!TrainingOptions.GoodImage) PrefetchWindow(Store.Image[size_t(result_)], 1, 2 * x, 2 * y, 1);
}

void TTwoTimesTraining::WriteSample() {
  std::array<float, 4> out = NetworkPass.Y;
  UnpermuteOutputs(rotation_, mirror_, out);
  TImageSlot& r = Store.Image[size_t(result_)];
  for (int k = 0; k < 4; ++k) r.At(1, 2 * x_ + (k & 1), 2 * y_ + (k >> 1)) = float(centre_ + out[size_t(k)] * scale_);
}

bool TTwoTimesTraining::ComputeResult(const std::function<bool(int percent)>& poll) {
  const TImageSlot& in = Store.Image[size_t(reduced_)];
  TImageSlot& r = Store.Image[size_t(result_)];
  const int64_t h = std::max(in.Height, 1);
  return RunNetworkRows(
      in.Height, NetworkRowThreads(in.Height, in.Width),
      [&](int64_t y, TNetworkPass& pass) { EnlargeNetworkRow(in, r, 1, int32_t(y), scale_, pass); },
      [&](int64_t rows) { return poll(int(100 * rows / h)); });
}

std::string TTwoTimesTraining::ErrorText() const { return RmseText(ImageRmsDifference(result_, goal_, 3)); }

}  // namespace astrelon

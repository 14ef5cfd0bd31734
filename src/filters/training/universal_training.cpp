#include "filters/training/universal_training.h"

#include <algorithm>
#include <cmath>

#include "filters/network/network_filter.h"
#include "filters/training/image_rms_difference.h"
#include "filters/training/network_permutations.h"
#include "filters/training/two_times_training.h"
#include "kernels/network/network_weights.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// By rotation, then mirror: t0..t3 as offsets from the sample pixel.
// clang-format off
constexpr TBlockOffsets TargetBlocks[4][3] = {
    // mirror 0                          mirror 1                               mirror 2
    {{{{0, 0}, {1, 0}, {0, 1}, {1, 1}}},   {{{0, 0}, {-1, 0}, {0, 1}, {-1, 1}}},  {{{0, 0}, {1, 0}, {0, -1}, {1, -1}}}},
    {{{{0, 0}, {0, -1}, {1, 0}, {1, -1}}}, {{{0, 0}, {0, 1}, {1, 0}, {1, 1}}},    {{{0, 0}, {0, -1}, {-1, 0}, {-1, -1}}}},
    {{{{0, 0}, {-1, 0}, {0, -1}, {-1, -1}}}, {{{0, 0}, {1, 0}, {0, -1}, {1, -1}}}, {{{0, 0}, {-1, 0}, {0, 1}, {-1, 1}}}},
    {{{{0, 0}, {0, 1}, {-1, 0}, {-1, 1}}}, {{{0, 0}, {0, -1}, {-1, 0}, {-1, -1}}}, {{{0, 0}, {0, 1}, {1, 0}, {1, 1}}}},
};
// clang-format on

}  // namespace

const TBlockOffsets& TUniversalTraining::TargetBlock(int rotation, int mirror) {
  return TargetBlocks[rotation & 3][std::clamp(mirror, 0, 2)];
}

TUniversalTraining::TUniversalTraining(int input, int goal, int result) : input_(input), goal_(goal), result_(result) {
  const TImageSlot& in = Store.Image[size_t(input_)];
  colour_ = in.IsColor && in.PlaneCount >= 3;
  f_.Source = &in;
  f_.Mid = (double(in.MaxValue) + double(in.MinValue)) / 2;
  const double range = double(in.MaxValue) - double(in.MinValue);
  f_.Scale = range > 0 && std::isfinite(range) ? range / 2 : 1.0;
  for (const int slot : {input_, goal_, result_}) Guard.Watch(slot);
}

bool TUniversalTraining::AddBase() const { return Network.TypeCode < 3; }

bool TUniversalTraining::UseBias() const { return Network.TypeCode > 2; }

bool TUniversalTraining::Turnable() const { return Network.InputTop >= 4; }

bool TUniversalTraining::Sample(int32_t x, int32_t y, int rotation, int mirror, std::mt19937& rng) {
  const TImageSlot& in = Store.Image[size_t(input_)];
  const TImageSlot& goal = Store.Image[size_t(goal_)];
  f_.Type = Network.TypeCode;
  f_.InputTop = Network.InputTop;
  f_.Plane = colour_ ? std::uniform_int_distribution<int>(1, 3)(rng) : 1;
  const TNetworkFilterKind kind = NetworkFilterKind(f_.Type);
  block_ =
      &TargetBlock(kind == TNetworkFilterKind::Blocks ? rotation : 0, kind == TNetworkFilterKind::Blocks ? mirror : 0);
  base_ = NetworkFilterBase(f_, x, y, *block_);
  EvalNetworkAt(in, f_.Plane, x, y, f_.InputTop, base_, f_.Scale, false, 0.0f, NetworkPass);
  PermuteNetworkInputs(f_.InputTop, rotation, mirror, NetworkPass.X.data());
  auto target = [&](int plane, int32_t dx, int32_t dy, double around) {
    const int32_t gx = x + dx, gy = y + dy;
    if (gx < 0 || gy < 0 || gx >= goal.Width || gy >= goal.Height) return 0.0f;
    const float v = goal.At(std::min(plane, goal.PlaneCount), gx, gy);
    return IsValidPixel(v) ? float((double(v) - around) / f_.Scale) : 0.0f;
  };
  std::array<float, 4>& t = Network.T;
  switch (kind) {
    case TNetworkFilterKind::Blocks:
      for (size_t k = 0; k < 4; ++k) t[k] = target(f_.Plane, (*block_)[k].Dx, (*block_)[k].Dy, base_);
      break;
    case TNetworkFilterKind::Mean:
      t.fill(target(f_.Plane, 0, 0, base_));
      break;
    case TNetworkFilterKind::ThreeInput:
      t = {target(1, 0, 0, base_), target(2, 0, 0, base_), target(2, 0, 0, base_), target(3, 0, 0, base_)};
      break;
  }
  x_ = x;
  y_ = y;
  return true;
}

void TUniversalTraining::Prefetch(int32_t x, int32_t y) const {
  const TImageSlot& in = Store.Image[size_t(input_)];
  const TImageSlot& goal = Store.Image[size_t(goal_)];
  for (int p = 1; p <= (colour_ ? 3 : 1); ++p) {
    PrefetchWindow(in, p, x, y, Network.InputTop > 40 ? 6 : 3);
    PrefetchWindow(goal, std::min(p, goal.PlaneCount), x, y, 1);
  }
}

void TUniversalTraining::WriteSample() {
  TImageSlot& r = Store.Image[size_t(result_)];
  const std::array<float, 4>& o = NetworkPass.Y;
  const double s = f_.Scale;
  auto put = [&](int plane, int32_t px, int32_t py, double v) {
    if (px >= 0 && py >= 0 && px < r.Width && py < r.Height && plane <= r.PlaneCount) r.At(plane, px, py) = float(v);
  };
  switch (NetworkFilterKind(f_.Type)) {
    case TNetworkFilterKind::Blocks:
      for (size_t k = 0; k < 4; ++k) put(f_.Plane, x_ + (*block_)[k].Dx, y_ + (*block_)[k].Dy, o[k] * s + base_);
      break;
    case TNetworkFilterKind::Mean:
      put(f_.Plane, x_, y_, (double(o[0]) + o[1] + o[2] + o[3]) / 4 * s + base_);
      break;
    case TNetworkFilterKind::ThreeInput:
      if (!colour_) {
        put(1, x_, y_, (double(o[1]) + o[2]) / 2 * s + base_);
        break;
      }
      put(1, x_, y_, o[0] * s + base_);
      put(2, x_, y_, (double(o[1]) + o[2]) / 2 * s + base_);
      put(3, x_, y_, o[3] * s + base_);
      break;
  }
}

bool TUniversalTraining::ComputeResult(const std::function<bool(int percent)>& poll) {
  const TImageSlot& in = Store.Image[size_t(input_)];
  for (int p = 1; p <= std::min(in.PlaneCount, 3); ++p) CopyPlane(input_, p, result_, p);
  const int64_t h = std::max(in.Height, 1);
  return ApplyLoadedNetworkFilter(input_, result_, {0, in.Width - 1, 0, in.Height - 1}, 1.0,
                                  [&](int, int64_t rows) { return poll(int(100 * rows / h)); });
}

std::string TUniversalTraining::ErrorText() const { return RmseText(ImageRmsDifference(result_, goal_, 3)); }

}  // namespace astrelon

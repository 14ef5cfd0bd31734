#include "pixelops/value_arithmetic.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "pixelops/rect_runs.h"

namespace astrelon {

namespace {

constexpr double FactorLimit = 1e8;
// From this magnitude on every float is an integer.
constexpr float IntegralFrom = 8388608.0f;  // 2^23

// Applies op to every valid pixel of the runs of the working rectangle.
template <typename Op>
void MapValidPixels(int slot, const TPlaneList& planes, const TWorkRect& rect, Op op) {
  ForEachRectRun(slot, planes, rect, [&](int32_t p, std::span<float> run) {
    for (float& v : run) {
      const float x = v;
      if (IsValidPixel(x)) v = op(p, x);
    }
  });
}

// Round to nearest, halves to even, in the default rounding mode: adding and
// removing 2^23 leaves the integer the addition rounded to.
float RoundHalfEven(float x) {
  const float a = std::fabs(x);
  if (!(a < IntegralFrom)) return x;
  return std::copysign((a + IntegralFrom) - IntegralFrom, x);
}

}  // namespace

void AddValuesToRect(int slot, float a1, float a2, float a3) {
  if (!SlotInUse(slot)) return;
  const std::array<double, 4> add{0, a1, a2, a3};
  MapValidPixels(slot, AllPlanes(slot), WorkRect,
                 [&](int32_t p, float x) { return float(double(x) + add[size_t(p)]); });
}

void MultiplyRectByValues(int slot, double f1, double f2, double f3) {
  if (!SlotInUse(slot)) return;
  std::array<double, 4> f{0, f1, f2, f3};
  for (double& k : f) {
    if (k > FactorLimit) k = FactorLimit;
    if (k < -FactorLimit) k = -FactorLimit;
  }
  MapValidPixels(slot, AllPlanes(slot), WorkRect, [&](int32_t p, float x) { return float(double(x) * f[size_t(p)]); });
}

void ClampValuesBelow(int slot, float v) {
  if (!SlotInUse(slot)) return;
  MapValidPixels(slot, SelectedChannels(slot), WorkRect, [v](int32_t, float x) { return x < v ? v : x; });
}

void ClampValuesAbove(int slot, float v) {
  if (!SlotInUse(slot)) return;
  MapValidPixels(slot, SelectedChannels(slot), WorkRect, [v](int32_t, float x) { return x > v ? v : x; });
}

void TakeSquareRoot(int slot) {
  if (!SlotInUse(slot)) return;
  MapValidPixels(slot, SelectedChannels(slot), WorkRect, [](int32_t, float x) { return x > 0 ? std::sqrt(x) : 0.0f; });
}

void SquareValues(int slot) {
  if (!SlotInUse(slot)) return;
  MapValidPixels(slot, SelectedChannels(slot), WorkRect, [](int32_t, float x) { return x * x; });
}

void RoundValues(int slot) {
  if (!SlotInUse(slot)) return;
  MapValidPixels(slot, AllPlanes(slot), WorkRect, [](int32_t, float x) { return RoundHalfEven(x); });
}

void MoveValuesTowardZero(int slot, float a) {
  if (!SlotInUse(slot)) return;
  const TImageSlot& im = Store.Image[size_t(slot)];
  const TWorkRect whole{0, im.Width - 1, 0, im.Height - 1};
  MapValidPixels(slot, AllPlanes(slot), whole,
                 [a](int32_t, float x) { return x >= 0 ? std::max(x - a, 0.0f) : std::min(x + a, 0.0f); });
}

}  // namespace astrelon

#include "store/planes/interpolation_kernels.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "core/settings.h"

namespace astrelon {

TKernelWindow KernelWindow;

namespace {

// Keys' cubic convolution kernel with parameter a.
double KeysCubic(double u, double a) {
  if (u <= 1.0) return (a + 2.0) * u * u * u - (a + 3.0) * u * u + 1.0;
  if (u < 2.0) return a * u * u * u - 5.0 * a * u * u + 8.0 * a * u - 4.0 * a;
  return 0.0;
}

// sinc windowed by a sinc n times wider.
double WindowedSinc(double u, double n) {
  if (u == 0.0) return 1.0;
  if (u >= n) return 0.0;
  const double px = std::numbers::pi * u;
  return (std::sin(px) / px) * (std::sin(px / n) / (px / n));
}

}  // namespace

float KernelWeight(int32_t kind, float x) {
  const double u = std::fabs(double(x));
  switch (kind) {
    case IkNeuro: return float(KeysCubic(u, -0.375));
    case IkBicubic: return float(KeysCubic(u, -0.8));
    case IkDSinc: return float(WindowedSinc(u, 8.0));
    default:
      if (kind <= IkLinear) return u < 1.0 ? float(1.0 - u) : 0.0f;
      return float(WindowedSinc(u, 3.0));
  }
}

TKernelTable BuildKernelTables() {
  TKernelTable table{};
  for (int32_t kind = 0; kind < KernelKindCount; ++kind)
    for (int32_t i = -KernelTableCentre; i < KernelTableSize - KernelTableCentre; ++i)
      table[size_t(kind)][size_t(i + KernelTableCentre)] = KernelWeight(kind, float(i * 0.01));
  return table;
}

TKernelWindowTable BuildKernelWindowTables() {
  TKernelWindowTable t{};
  for (int32_t kind = 0; kind < KernelKindCount; ++kind) {
    const TSamplingKind k = SamplingKindOf(kind);
    for (int32_t m = 0; m < KernelFractionSteps; ++m)
      for (int32_t tap = 0; tap <= k.Hi - k.Lo; ++tap)
        t[size_t(kind)][size_t(m)][size_t(tap)] =
            KernelEntry(KernelTables()[size_t(kind)], KernelTableCentre + 100 * (k.Lo + tap) - m);
  }
  return t;
}

void SetKernelWindow(int32_t kind) {
  if (kind < 0 || kind >= KernelKindCount) return;
  const TSamplingKind k = SamplingKindOf(kind);
  KernelWindow.Lo = k.Lo;
  KernelWindow.Hi = k.Hi;
}

void SetToolMode(int32_t kind) {
  if (kind < 0 || kind >= KernelKindCount) return;
  Settings.InterpolationKind = kind;
  SetKernelWindow(kind);
}

TInterpolationKindScope::TInterpolationKindScope(int32_t kind) : saved_(Settings.InterpolationKind) {
  SetToolMode(kind);
}

TInterpolationKindScope::~TInterpolationKindScope() { SetToolMode(saved_); }


}  // namespace astrelon

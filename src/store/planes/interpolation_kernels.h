#pragma once
// Interpolation kernels: the kernel formulas, their tabulated form (1602 weights
// per kind at steps of 0.01 pixel, entry 800 at offset 0), the program-wide
// interpolation kind and the current tap window that belongs to it.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "core/settings.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace astrelon {

enum TInterpolationKind : int32_t {
  IkLinear = 0,     // "Linear"
  IkNeuro = 1,      // "Neuro" (tabulated as a cubic)
  IkBicubic = 2,    // "Bikubisch"
  IkDSinc = 3,      // "dSinc"
  IkLanczos3 = 4,   // "Lanczos3"
};

constexpr int32_t KernelKindCount = 5;
constexpr int32_t KernelTableSize = 1602;
constexpr int32_t KernelTableCentre = 800;  // entry of offset 0
constexpr double KernelTableStepsPerPixel = 100.0;

// One row per kind; entry KernelTableCentre + i holds KernelWeight(kind, i * 0.01)
// for i = -800..801.
using TKernelTable = std::array<std::array<float, KernelTableSize>, KernelKindCount>;

// Weight of the kind's kernel at offset x pixels. Kinds above 3 use the
// three-lobe windowed sinc, kinds below 0 the linear kernel.
float KernelWeight(int32_t kind, float x);

// Computes the tables of all kinds.
TKernelTable BuildKernelTables();
// The program's tables, computed on first use and read-only afterwards.
inline const TKernelTable& KernelTables() {
  static const TKernelTable table = BuildKernelTables();
  return table;
}

// Largest tap offset of each kind (Linear 1, Neuro 2, Bikubisch 2, dSinc 8, Lanczos3 3).
constexpr int32_t KernelTapBound(int32_t kind) {
  constexpr std::array<int32_t, KernelKindCount> bound{1, 2, 2, 8, 3};
  return bound[static_cast<size_t>(kind < 0 ? 0 : (kind >= KernelKindCount ? KernelKindCount - 1 : kind))];
}

// Taps lo..hi (integer offsets from the integer part of a position) of the current kind.
struct TKernelWindow {
  int32_t Lo = -1;
  int32_t Hi = 2;
};
extern TKernelWindow KernelWindow;

// Makes the kind's window the current one: lo 0, -1, -1, -7, -2 and hi 1, 2, 2, 8, 3 for kinds 0..4.
void SetKernelWindow(int32_t kind);

// The program-wide switch of the interpolation kind (the shell's tool-mode
// switch): the kind becomes Settings.InterpolationKind and its window the
// current one. Kinds outside 0..4 are refused (they index the tables).
void SetToolMode(int32_t kind);

// Sets a kind for the life of the object and restores the kind found before,
// also when the operation ends early.
class TInterpolationKindScope {
public:
  explicit TInterpolationKindScope(int32_t kind);
  ~TInterpolationKindScope();
  TInterpolationKindScope(const TInterpolationKindScope&) = delete;
  TInterpolationKindScope& operator=(const TInterpolationKindScope&) = delete;

private:
  int32_t saved_;
};

// A kind and its tap window as one value, for samplers that must not read the
// program-wide state while they work (worker threads, per-pixel kind choices).
struct TSamplingKind {
  int32_t Kind = IkBicubic;
  int32_t Lo = -1;
  int32_t Hi = 2;
};
// The kind with its own window; kinds outside 0..4 count as the nearest of them.
constexpr TSamplingKind SamplingKindOf(int32_t kind) {
  constexpr std::array<int32_t, KernelKindCount> lo{0, -1, -1, -7, -2};
  kind = kind < 0 ? 0 : (kind >= KernelKindCount ? KernelKindCount - 1 : kind);
  return {kind, lo[size_t(kind)], KernelTapBound(kind)};
}
// The program-wide kind with the current window.
inline TSamplingKind CurrentSamplingKind() {
  const int32_t kind = Settings.InterpolationKind;
  return {kind < 0 ? 0 : (kind >= KernelKindCount ? KernelKindCount - 1 : kind), KernelWindow.Lo, KernelWindow.Hi};
}
// The table row of a kind (kinds outside 0..4 take the nearest row).
inline const std::array<float, KernelTableSize>& KernelRow(int32_t kind) {
  return KernelTables()[size_t(kind < 0 ? 0 : (kind >= KernelKindCount ? KernelKindCount - 1 : kind))];
}

// Entry of the first tap `kFirst` at fraction f: 800 + (kFirst - f) * 100 rounded
// to the nearest integer, ties to even. Tap kFirst + n reads the entry 100 n further.
inline int32_t KernelFirstEntry(int32_t kFirst, float f) {
  const double e = (double(kFirst) - double(f)) * KernelTableStepsPerPixel;
#if defined(__SSE2__)
  // The processor's conversion rounds to nearest, ties to even (the default mode),
  // as nearbyint does, without a library call. |e| stays far inside int32.
  return KernelTableCentre + _mm_cvtsd_si32(_mm_set_sd(e));
#else
  return KernelTableCentre + int32_t(std::nearbyint(e));
#endif
}
// The weights of a kind's whole window by fraction: entry [kind][m][t] is the
// weight of tap lo + t (t = 0..hi - lo; 0 beyond) at every fraction f in [0, 1)
// with KernelFractionIndex(f) = m. It is the entry the read rule gives: (lo - f)
// 100 and 100 f are exact in double, and since 100 lo is an even integer,
// rounding ties to even makes round((lo - f) 100) = 100 lo - round(100 f).
constexpr int32_t KernelFractionSteps = 101;
using TKernelWindowTable =
    std::array<std::array<std::array<float, 16>, KernelFractionSteps>, KernelKindCount>;
TKernelWindowTable BuildKernelWindowTables();
inline const TKernelWindowTable& KernelWindowTables() {
  static const TKernelWindowTable table = BuildKernelWindowTables();
  return table;
}
// round(100 f), ties to even, for a fraction f in [0, 1).
inline int32_t KernelFractionIndex(float f) {
#if defined(__SSE2__)
  return _mm_cvtsd_si32(_mm_set_sd(double(f) * KernelTableStepsPerPixel));
#else
  return int32_t(std::nearbyint(double(f) * KernelTableStepsPerPixel));
#endif
}

// A table entry; an entry outside the row weighs 0 (every kernel is 0 there).
inline float KernelEntry(const std::array<float, KernelTableSize>& row, int64_t e) {
  return e >= 0 && e < KernelTableSize ? row[size_t(e)] : 0.0f;
}

}  // namespace astrelon

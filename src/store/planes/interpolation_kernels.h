#pragma once
// Interpolation kernels: the kernel formulas, their tabulated form (1602 weights
// per kind at steps of 0.01 pixel, entry 800 at offset 0) and the current tap
// window of the program's interpolation kind.
#include <array>
#include <cstddef>
#include <cstdint>

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
const TKernelTable& KernelTables();

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

}  // namespace astrelon

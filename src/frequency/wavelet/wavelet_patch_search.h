#pragma once
// "Bessere Berechnung" of the wavelet noise filter: each interior pixel of a
// detail level becomes a weighted mean of pixels whose 3 x 3 neighbourhoods look
// like its own. The search walks from offset (0, 0) over the grid of offsets
// -11..10, looking at most at 39 candidates, and always goes on from the best
// candidate found so far; a candidate's weight is exp(-d K / 81.915) for the
// patch distance d (sum of squared differences of the 16-bit patches, shifted
// right by 3).
#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace astrelon {

inline constexpr int PatchOffsetLow = -11, PatchOffsetHigh = 10;
inline constexpr int PatchCandidateBudget = 39;
// Quantised value of a blank pixel.
inline constexpr int16_t PatchBlank = -16400;

// One level as the search sees it.
struct TPatchLevel {
  std::span<const float> Values;
  std::span<const int16_t> Q;  // round(v x s), clamped to 16 bits; blank -16400
  int32_t Width = 0;
  int32_t Height = 0;
  double K = 0;  // distance scale: a distance d weighs E[round(d K)]
};

// Work space of one thread: which offsets the current pixel's walk has looked
// at (those marked with its stamp or a larger number) and its list of
// candidates. The table has a frame of offsets one step outside the grid,
// marked for good, so a step out of the grid counts as looked at.
struct TPatchScratch {
  static constexpr int Side = PatchOffsetHigh - PatchOffsetLow + 3;
  static constexpr uint32_t Always = UINT32_MAX;
  std::array<uint32_t, Side * Side> Looked;
  uint32_t Stamp = 0;
  struct TEntry {
    int64_t Distance;
    int8_t Dx, Dy;
  };
  // Every look adds at most one entry, an empty list one more: 40 at most.
  std::array<TEntry, 48> List;
  TPatchScratch() { ClearMarks(); }
  // Every offset of the grid not looked at, the frame looked at.
  void ClearMarks() {
    for (int j = 0; j < Side; ++j)
      for (int i = 0; i < Side; ++i)
        Looked[size_t(j * Side + i)] = i == 0 || j == 0 || i == Side - 1 || j == Side - 1 ? Always : 0;
  }
};

// The 16-bit copy of a level: round(v x s) clamped, blank pixels -16400.
std::vector<int16_t> QuantiseLevel(std::span<const float> values, double s, int threads = 1);

// The filtered values of pixels x = first .. last - 1 of row y into out[x]; the
// pixels lie at least 2 pixels inside the level.
void PatchSearchRow(const TPatchLevel& level, int32_t y, int32_t first, int32_t last, float* out,
                    TPatchScratch& scratch);

}  // namespace astrelon

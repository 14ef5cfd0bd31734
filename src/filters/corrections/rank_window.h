#pragma once
// Order statistics of a row's values near a guess, without a histogram: passes
// that count the values below a few pivots narrow the place of the wanted rank,
// and only the few values of a narrow window around it are selected among. The
// values found are exactly those of any selection; a guess far off only makes
// the search fail (the caller then selects the usual way).
#include <cstdint>
#include <span>
#include <vector>

#include "store/image_slot.h"

namespace astrelon {

// The values of a set that lie in [Low, High), and what lies around them.
struct TRankWindow {
  TPlane Store;               // the first Count are the values, in any order
  TPlane Scratch;             // the values of a bracket while searching
  size_t Count = 0;
  int64_t Total = 0;          // values in the set
  int64_t Below = 0;          // values below Low
  float MaxBelow = 0;         // the largest of them
  float MinAbove = 0;         // the smallest value at or above High
  float Low = 0, High = 0;

  // The values of ranks r and r + 1 (0-based, ascending) when the window shows
  // both; r + 1 must be a rank of the set.
  bool Pair(int64_t r, float& lower, float& upper);
  // The value of rank r (< Total) when the window shows it.
  bool Value(int64_t r, float& out);
};

// Finds a window holding ranks k and k + 1 (k + 1 < v.size()) of the values
// (none NaN), searching from `guess` in pivots `step` apart; false when they lie
// too far from it. The vector path where the processor has it: the same window.
bool FindRankWindow(std::span<const float> v, int64_t k, float guess, float step, TRankWindow& w, bool vector);

// Moves a window found in the values v to one that shows ranks k and k + 1,
// placed by the density of values the window held; false when that misses.
bool MoveRankWindow(std::span<const float> v, int64_t k, TRankWindow& w, bool vector);

// A guess of the value of rank k from a sample of the values (NaN for fewer
// than 64 values).
float SampleGuess(std::span<const float> v, int64_t k);
// The width of the middle quarter of such a sample (0 for fewer than 64 values):
// a step for the pivots when nothing better is known.
float SampleSpread(std::span<const float> v);

// Counts of the values v with -t < v - c < t (differences in float) and of those
// with v - c at or below -t.
void CountNearLevel(std::span<const float> v, float c, float t, int64_t& below, int64_t& inside, bool vector);

// The rank k whose value and the next one's give the fraction-quantile of n >= 2
// values (0 < fraction < 1), and that quantile from those two values, as
// PercentileSelect forms them.
int64_t QuantileRank(int64_t n, double fraction);
float InterpolateQuantile(float lower, float upper, int64_t n, double fraction);

}  // namespace astrelon

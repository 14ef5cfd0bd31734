#pragma once
// Clipped mean squares of pixel-pair differences, the core of the noise estimates.
#include <cstdint>
#include <span>

namespace astrelon {

// How the rounds of an estimate treat their means.
struct TClipRule {
  bool KeepPreviousWhenEmpty = false;  // a round without pairs keeps the previous mean (else 0)
  bool FloorEachRound = false;         // a round's mean is raised to at least Floor
  // The least mean square that counts (a hundredth of a level, squared): a
  // round's floor and the least divisor of the stopping test.
  double Floor = 0.0001;
};

struct TClipResult {
  double Previous = 1.0;
  double Current = 1.0;
};

// Pairs (v[k*gap], v[k*gap + gap]), k = 0..pairs-1 (gap 1 or 2), in which both
// values are valid. First the mean square difference over all of them; then up to
// ten rounds, each the mean square over the pairs whose square lies below 4.5
// times the previous mean, until the previous mean is less than 1.1 times the
// current one. Differences and squares are formed in float, sums in double.
// The scalar and the vector path give the same figures.
TClipResult ClippedMeanSquare(std::span<const float> v, int64_t pairs, int gap, TClipRule rule, bool vector);

}  // namespace astrelon

#pragma once
// The "Neuro" sub-pixel interpolation: a bilinear base value corrected by a small
// fixed network in 16-bit fixed point that looks at the 4 x 4 neighbourhood.
#include <array>
#include <cstdint>

namespace astrelon {

constexpr int NeuroHiddenCount = 11;
constexpr int NeuroInputCount = 18;

// The fixed network: 11 hidden neurons of 18 weights (inputs 0..15 the scaled
// neighbours, 16 and 17 the scaled fractions) and 11 output weights.
struct TNeuroInterpolationNet {
  std::array<std::array<int16_t, NeuroInputCount>, NeuroHiddenCount> Hidden;
  std::array<int16_t, NeuroHiddenCount> Output;
};
extern const TNeuroInterpolationNet NeuroInterpolationNet;

// Hidden activations in fixed point: each neuron's 32-bit weighted sum of the
// inputs, through the fixed-point tanh table (13501 beyond +-32768000).
std::array<int32_t, NeuroHiddenCount> ForwardFixedPoint(const std::array<int32_t, NeuroInputCount>& q);

// Value between p[5], p[6], p[9] and p[10] of the 4 x 4 neighbours p[0..15]
// (reading order, -1e11 for blank or missing ones) at the fractions p[16] (right
// of p[5]) and p[17] (down): the bilinear value of the centre cell, blanks
// skipped, plus the network's correction. Blank (-1e11) when the bilinear
// weight is 0.1 or less. Needs the tanh tables (BuildTanhTable).
float InterpolateNeuro(const std::array<float, NeuroInputCount>& p);

}  // namespace astrelon

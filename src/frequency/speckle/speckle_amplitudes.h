#pragma once
// The first steps of a speckle reconstruction on one layer's accumulators:
// each X_u turned into amplitude (real half) and phase (imaginary half), its
// noise measured on the bins outside the frequency ellipse and taken off, and
// every amplitude weighted by a factor that follows the signal level of the
// vectors over their length.
#include <array>
#include <cstdint>

#include "frequency/speckle/speckle_accumulation.h"
#include "frequency/speckle/speckle_vectors.h"

namespace astrelon {

// What a layer keeps for the reconstructions that follow, indexed by vector u.
struct TSpeckleLayerNoise {
  std::array<double, TShiftVectors::Capacity + 1> Noise{};   // mean amplitude of the outer bins
  std::array<double, TShiftVectors::Capacity + 1> Eps{};     // 0.1 × Noise
  std::array<double, TShiftVectors::Capacity + 1> Signal{};  // mean amplitude − Noise
  std::array<double, TShiftVectors::Capacity + 1> Weight{};  // c_u, the radial factor
  double Smallest = 0;  // the smallest Noise of the layer
  bool Converted = false;  // the layer's accumulators hold amplitude and phase
};

// Converts the accumulators of a layer (u = 1 .. acc.Vectors) in place and
// fills `noise`; the vectors are shared out over the threads, each
// accumulator handled by one, so the result does not depend on the split.
void ConvertSpeckleLayer(TSpeckleAccumulators& acc, int layer, const TShiftVectors& vectors, TSpeckleLayerNoise& noise,
                         int threads);

// The radial factors c_u from the signal levels (the mean signal per length
// index round(|u|) − 1, a robust quadratic through its differences to index 0):
// Weight[u] for u = 1..count.
void SpeckleRadialWeights(const TShiftVectors& vectors, int32_t count, TSpeckleLayerNoise& noise);

}  // namespace astrelon

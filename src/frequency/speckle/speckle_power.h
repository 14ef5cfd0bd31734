#pragma once
// The power |F(f)|² of every frequency of a speckle reconstruction, estimated
// from triples of shift vectors (u_a + u_b = u_c) inside the power ellipse:
// each triple gives the sample |X_a(f)|·|X_c(f)| / (|X_b(f + u_a)| + ε_b),
// and the outlier-rejecting mean of a frequency's samples is its power.
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "frequency/speckle/speckle_accumulation.h"
#include "frequency/speckle/speckle_vectors.h"

namespace astrelon {

struct TSpeckleTriple {
  uint8_t A = 0, C = 0, B = 0;  // vector indices, u_a + u_b = u_c
};

constexpr size_t MaxSpeckleTriples = 2000;

struct TSpecklePowerSetUp {
  int32_t Mx = 1, My = 1;  // the largest dx and dy of the regular vectors
  double Radius = 2;       // the power radius used ("Max Radius:" as shown)
  int32_t Inside = 0;      // leading vectors of the list inside the power ellipse
  std::vector<TSpeckleTriple> Triples;
};

// The power ellipse for "Max Radius:" and the triples inside it (at most 2000).
// The radius is min(maxRadius, 7·min(mx, my)), at least 2 when maxRadius is
// the smaller.
TSpecklePowerSetUp SpecklePowerTriples(const TShiftVectors& vectors, double maxRadius);

// The amplitudes √power of every frequency (x < half) of one layer into the
// real half of `result`, from accumulators that hold amplitudes. With noise
// correction a mean of at least three samples is lowered by its variance.
// Rows are shared out over the threads (each frequency computed alike whatever
// the split); `rowDone` runs on the calling thread after each of its rows with
// the number of rows finished. False when the abort flag stopped the pass.
bool SpecklePowerPass(const TSpeckleAccumulators& acc, int layer, const TShiftVectors& vectors,
                      std::span<const TSpeckleTriple> triples, std::span<const double> eps, bool noiseCorrection,
                      std::span<float> result, int threads, const std::function<void(int32_t rowsDone)>& rowDone = {});

// The samples of row y in triple order: samples[x·triples + k] for k <
// counts[x]. The same gathering serves the pass and its benchmark baseline.
void GatherPowerSamples(const TSpeckleAccumulators& acc, int layer, const TShiftVectors& vectors,
                        std::span<const TSpeckleTriple> triples, std::span<const double> eps, int32_t y,
                        std::vector<float>& samples, std::vector<int32_t>& counts);

}  // namespace astrelon

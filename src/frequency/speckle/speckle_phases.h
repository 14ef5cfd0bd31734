#pragma once
// The phases of a speckle reconstruction: every frequency's phase recovered
// from frequencies already known, over paths of shift vectors whose phase
// differences the accumulators hold, visited in a rectangle growing outward
// from the zero frequency.
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <utility>
#include <vector>

#include "frequency/speckle/speckle_accumulation.h"
#include "frequency/speckle/speckle_amplitudes.h"
#include "frequency/speckle/speckle_vectors.h"

namespace astrelon {

// The frequencies (column, row) of a spectrum of `half` bins and `height`
// rows in the order of the walk: a rectangle growing from the zero frequency
// (column 0, row height/2), each step adding column i (rows outward from the
// middle) and then the two rows of the next ring up to column i. The zero
// frequency itself is not in it; every other frequency is, once.
std::vector<std::pair<int32_t, int32_t>> SpeckleVisitingOrder(int32_t half, int32_t height);

class TSpecklePhaseWalk {
public:
  // One layer: accumulators in amplitude/phase form, `result` the layer's
  // spectrum plane (amplitudes in its real half; the phases go into its
  // imaginary half). Vectors 1..regular take part; with kt all of them are
  // usable from the start (phases 0), otherwise 1..3 with their phasor phases.
  TSpecklePhaseWalk(const TSpeckleAccumulators& acc, int layer, const TShiftVectors& vectors,
                    const TSpeckleLayerNoise& noise, const TSpeckleLayerSums& sums, int32_t maxSteps, int32_t mx,
                    int32_t my, bool kt, std::span<float> result);

  // Visits every frequency; `progress` runs every 100 phases (10 with paths
  // of two or more steps) with the number computed. False when the abort flag
  // stopped the walk.
  bool Run(const std::function<void(int64_t count)>& progress = {});

  // Computes and stores the phase of frequency (x, y) (y the row) from the
  // known frequencies; a vector u >= 4 equal to the frequency becomes usable
  // with this phase.
  double ReconstructPhaseAt(int32_t x, int32_t y);

  // The phase of vector u (0 holds the layer's smallest noise) and whether it is usable.
  double Phi(int32_t u) const { return phi_[size_t(u)]; }
  bool Usable(int32_t u) const { return usable_[size_t(u)] != 0; }
  int64_t Count() const { return count_; }

private:
  // One level of the depth-first search over paths f → f − u_1 → ...; the
  // last level adds the weighted phase of every path ending on a known frequency.
  void FindPathStep(int32_t level, int32_t fx, int32_t fy, double phaseSum, double varianceSum);

  const TSpeckleAccumulators& acc_;
  int layer_;
  const TShiftVectors& v_;
  const TSpeckleLayerNoise& noise_;
  int32_t n_, maxSteps_, mx_, my_;
  std::span<float> result_;
  int32_t W_, H_, half_;
  std::array<double, TShiftVectors::Capacity + 1> phi_{};
  std::array<uint8_t, TShiftVectors::Capacity + 1> usable_{};
  std::vector<uint8_t> known_;
  std::vector<int16_t> vectorAt_;  // vector index (>= 4) of each frequency within mx, my; 0 for none
  // The usable vectors from index n down to 1, as the search tries them.
  struct TStep {
    int32_t U, Dx, Dy;
    const float* X;  // the vector's accumulator
    double Weight;
  };
  std::vector<TStep> stepList_;
  void RebuildSteps();
  int32_t steps_ = 1;              // path length being enumerated
  double sumCos_ = 0, sumSin_ = 0;
  int64_t count_ = 0;
  int64_t nextAt_ = -1;
};

}  // namespace astrelon

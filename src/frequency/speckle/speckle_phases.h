#pragma once
// The phases of a speckle reconstruction: every frequency's phase recovered
// from frequencies already known, over paths of shift vectors whose phase
// differences the accumulators hold, visited in a rectangle growing outward
// from the zero frequency (speckle_visiting_order.h).
//
// A path's weighted phase is summed as a phasor: the unit phasor of its phase
// sum times 1 / (its variance sum), in single precision by the polynomials of
// speckle_phasor_rows.h. The paths of one step to a frequency of the current
// column or ring whose end was known before that column or ring began do not
// depend on the order inside it: they are summed first, a row of frequencies
// at a time; those ending inside it, and all longer paths, follow frequency by
// frequency. Every lane count gives the same bits.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "frequency/speckle/speckle_accumulation.h"
#include "frequency/speckle/speckle_amplitudes.h"
#include "frequency/speckle/speckle_phasor_rows.h"
#include "frequency/speckle/speckle_vectors.h"
#include "frequency/speckle/speckle_visiting_order.h"
#include "platform/spin_team.h"

namespace astrelon {

class TSpecklePhaseWalk {
public:
  // One layer: accumulators in amplitude/phase form, `result` the layer's
  // spectrum plane (amplitudes in its real half; the phases go into its
  // imaginary half). Vectors 1..regular take part; with kt all of them are
  // usable from the start (phases 0), otherwise 1..3 with their phasor phases.
  TSpecklePhaseWalk(const TSpeckleAccumulators& acc, int layer, const TShiftVectors& vectors,
                    const TSpeckleLayerNoise& noise, const TSpeckleLayerSums& sums, int32_t maxSteps, int32_t mx,
                    int32_t my, bool kt, std::span<float> result, int threads = 1,
                    TSpeckleLanes lanes = SpeckleLanes(true));

  // Visits every frequency, the sums of a column or ring shared out over the
  // threads (the same bits for any number); `progress` runs every 100 phases (10 with paths
  // of two or more steps) with the number computed. False when the abort flag
  // stopped the walk.
  bool Run(const std::function<void(int64_t count)>& progress = {});

  // The phase of vector u (0 holds the layer's smallest noise) and whether it is usable.
  double Phi(int32_t u) const { return phi_[size_t(u)]; }
  bool Usable(int32_t u) const { return usable_[size_t(u)] != 0; }
  int64_t Count() const { return count_; }

private:
  struct TStep {
    int32_t U, Dx, Dy;
    const float* X;  // the vector's accumulator
    float Weight;    // c_u
    TSpeckleStepConstants K;
  };
  // A frequency's phasor sums while its column or ring is visited.
  struct TSums {
    float Re = 0, Im = 0;
  };

  // Vector u as a step (its constants fixed once it is usable).
  TStep StepOf(int32_t u) const;
  void RebuildSteps();
  // The one-step paths of the frequencies of `visit` from frequencies known
  // before it (into sumRe_, sumIm_), and the phasors of the vectors whose
  // paths stay inside it (into liveRe_, liveIm_): the vectors in groups
  // summed apart on the team's threads, then the groups' sums in order.
  void SumKnownPaths(const TSpeckleVisit& visit);
  void SumGroup(const TSpeckleVisit& visit, int32_t group);
  // What vector step s reads in the visit (row k of a ring; 0 for a column):
  // amplitudes, phases, the known phasors, where its slots start and how
  // many; false for nothing.
  struct TRun {
    const float *Amp, *Beta, *TRe, *TIm;
    int32_t Count, Slot;
  };
  bool RunOf(const TSpeckleVisit& visit, const TStep& s, int32_t k, TRun& run) const;

  // Columns of the accumulators are copied into runs a block of 16 columns at
  // a time, per vector, over the rows the columns to come need.
  struct TColumnBlock {
    int32_t First = -1, RowFirst = 0, Rows = 0;
  };
  // The column gx that vector step s reads in a column visit and the visit's
  // rows y0 .. y1 whose paths through it stay in the spectrum; false for none.
  bool ColumnRows(const TSpeckleVisit& visit, const TStep& s, int32_t& gx, int32_t& y0, int32_t& y1) const;
  // The block for rows first .. last of column gx, `reach` rows from the middle
  // the visit's own reach.
  TColumnBlock BlockFor(const TStep& s, int32_t gx, int32_t first, int32_t last, int32_t reach) const;
  bool Covers(int32_t u, int32_t gx, int32_t first, int32_t last) const;
  void CopyBlock(const TStep& s, const TColumnBlock& b);
  // Computes and stores the phase of frequency (x, y), slot j of its visit.
  void ReconstructPhaseAt(int32_t x, int32_t y, int32_t j);
  // One level of the depth-first search over paths of two or more steps; the
  // last level adds the weighted phasor of every path ending on a known frequency.
  void FindPathStep(int32_t level, int32_t fx, int32_t fy, float pRe, float pIm, float variance, TSums& sums);
  // Marks (x, y) known with `phase`.
  void SetPhase(int32_t x, int32_t y, double phase);

  const TSpeckleAccumulators& acc_;
  int layer_;
  const TShiftVectors& v_;
  const TSpeckleLayerNoise& noise_;
  int32_t n_, maxSteps_, mx_, my_;
  std::span<float> result_;
  int32_t W_, H_, half_, mid_;
  TSpeckleLanes lanes_;
  int threads_;
  TSpinTeam* team_ = nullptr;  // while Run runs
  std::array<double, TShiftVectors::Capacity + 1> phi_{};
  std::array<uint8_t, TShiftVectors::Capacity + 1> usable_{};
  std::vector<uint8_t> known_;     // by row, half values a row
  std::vector<float> tRe_, tIm_;   // the unit phasor of each known frequency (0 where unknown), by row
  std::vector<float> cRe_, cIm_;   // the same by column, height values a column
  std::vector<int16_t> vectorAt_;  // vector index (>= 4) of each frequency within mx, my; 0 for none
  // The usable vectors from index n down to 1, as the search tries them.
  std::vector<TStep> stepList_;
  std::array<TStep, TShiftVectors::Capacity + 1> byVector_{};  // the steps by vector, once usable
  // The current visit's sums by slot, its vectors with paths inside it and
  // their phasors (slot-major per vector), and vectors made usable during it.
  std::vector<float> sumRe_, sumIm_, groupRe_, groupIm_;
  std::array<std::vector<TSpecklePhasorRun>, 8> groupRuns_;  // each group's runs
  std::vector<TStep> live_;
  std::vector<int32_t> liveOf_;  // by step: its row of live phasors, or -1
  std::vector<float> liveRe_, liveIm_;
  std::vector<TStep> fresh_;
  int32_t slots_ = 0;
  std::vector<TColumnBlock> blocks_;  // by vector
  std::unique_ptr<float[]> blockData_;
  int32_t steps_ = 1;  // path length being enumerated
  int64_t count_ = 0;
};

}  // namespace astrelon

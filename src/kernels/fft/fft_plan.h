#pragma once
// The tables of one transform length of the mixed-radix engine: factor list,
// digit-reversal permutation and per-pass twiddles. A plan is made once per
// length (under a lock) and kept for the life of the program; plans are
// read-only and shared by every thread.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "kernels/fft/fft_sizes.h"

namespace astrelon {

// One factor pass: `Radix` points at stride P (the product of the earlier
// radices) in each of the Q = N / (P · Radix) butterflies of each of the P
// twiddle groups.
struct TFftPass {
  int32_t Radix = 1;
  int32_t P = 1;
  int32_t Q = 1;
  size_t Twiddles = 0;  // offset of group 0 in TFftPlan::Twiddles: P · (Radix − 1) pairs (cos, −sin)
  size_t Dft = 0;       // general odd radix: offset of its cos/sin table in TFftPlan::DftTables
};

struct TFftPlan {
  int32_t Length = 0;
  TFftFactors Factors;
  // Permutation[i]: the position that input point i takes before the passes.
  std::vector<int32_t> Permutation;
  // InputAt[p]: the input point that stands at position p (the inverse permutation).
  std::vector<int32_t> InputAt;
  std::vector<TFftPass> Passes;
  std::vector<double> Twiddles;
  // For each pass of an odd radix R >= 7: cos(2πm/R) for m = 0..R−1, then sin(2πm/R).
  std::vector<double> DftTables;
  // The same tables rounded to float, for the single-precision passes.
  std::vector<float> TwiddlesSingle, DftTablesSingle;
};

// Builds the tables; nullptr when n is not a good length (first factor above 37).
std::unique_ptr<TFftPlan> MakeFftPlan(int32_t n);

// The kept plan of length n, made on first use; nullptr when n is not a good length.
std::shared_ptr<const TFftPlan> FftPlanFor(int32_t n);

// Number of sequences that one call of RunFftPasses transforms side by side:
// 4 where the processor runs AVX2, else 2; 1 without the vector switch. The
// sequences are independent and each is computed by the same operations in the
// same order, so the results do not depend on the lane count.
int FftLaneCount(bool vector);

// Work lines of `lanes` sequences of n points side by side (re and im), aligned
// for the vector passes.
class TFftLaneBuffer {
public:
  TFftLaneBuffer() = default;
  TFftLaneBuffer(int32_t n, int lanes) { Resize(n, lanes); }
  void Resize(int32_t n, int lanes) {
    const size_t blocks = (size_t(n) * size_t(lanes) + 3) / 4;
    re_.resize(blocks);
    im_.resize(blocks);
  }
  double* Re() { return reinterpret_cast<double*>(re_.data()); }
  double* Im() { return reinterpret_cast<double*>(im_.data()); }
  const double* Re() const { return reinterpret_cast<const double*>(re_.data()); }
  const double* Im() const { return reinterpret_cast<const double*>(im_.data()); }

private:
  struct alignas(32) TBlock {
    double d[4];
  };
  std::vector<TBlock> re_, im_;
};

// The forward passes (sign e^(−2πi·jk/N), no scaling) over `lanes` sequences
// stored side by side: point i of sequence l at [i · lanes + l]; the points must
// already stand at their permuted positions. lanes is 1, 2, 4 or 8 (eight on
// 32-byte boundaries, for processors with AVX-512).
void RunFftPasses(const TFftPlan& plan, double* re, double* im, int lanes);

// The same passes in single precision (float tables) over `lanes` float
// sequences: 1, 4, 8 or 16 (sixteen for processors with AVX-512, eight with
// AVX2; the data on 64-byte boundaries for sixteen, 32 for eight). Each lane
// computes the same operations in the same order, whatever the lane count.
void RunFftPasses(const TFftPlan& plan, float* re, float* im, int lanes);

}  // namespace astrelon

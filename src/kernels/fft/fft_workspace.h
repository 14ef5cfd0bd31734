#pragma once
// Single-sequence transforms and the workspaces that hold a length's tables,
// work arrays and taper table: the mixed-radix workspace (any good length) and
// the power-of-two workspace. A workspace is an object of its user (one per
// thread that transforms); the tables behind it are the kept, shared plans.
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "kernels/fft/fft_plan.h"

namespace astrelon {

// Complex forward transform of N = plan length points (e^(−2πi·jk/N), no
// scaling): the inputs are read through the permutation into the outputs, the
// passes run in place there. Inputs and outputs hold at least N values and may
// be the same arrays only when they are not (read happens before any write).
void MixedRadixFft(const TFftPlan& plan, std::span<const double> inRe, std::span<const double> inIm,
                   std::span<double> outRe, std::span<double> outIm);
// The same for real input; the output imaginary array is written in full.
void MixedRadixRealFft(const TFftPlan& plan, std::span<const double> inRe, std::span<double> outRe,
                       std::span<double> outIm);
// For k = 1 .. N/2: re[N − k] = re[k], im[N − k] = −im[k].
void HermitianComplete(int32_t n, std::span<double> re, std::span<double> im);
// t[i] = 0.5 + 0.5·cos((i + 0.5)·π/m), i = 0 .. m − 1: falls from just under 1 to just above 0.
std::vector<double> TaperTable(int32_t m);

class TFftWorkspace {
public:
  // N := NextGoodFftSize(n, even); the tables follow N, the taper table
  // m = N − n + 1. False (nothing changed) when no good length exists.
  bool Setup(int32_t n, bool even);
  int32_t Requested() const { return n_; }
  int32_t Length() const { return N_; }
  const TFftPlan& Plan() const { return *plan_; }
  // Work arrays of N + 1 values.
  std::span<double> InRe() { return inRe_; }
  std::span<double> InIm() { return inIm_; }
  std::span<double> OutRe() { return outRe_; }
  std::span<double> OutIm() { return outIm_; }
  std::span<const double> Taper() const { return taper_; }
  // The inputs' transform into the outputs.
  void Fft() { MixedRadixFft(*plan_, inRe_, inIm_, outRe_, outIm_); }
  void RealFft() { MixedRadixRealFft(*plan_, inRe_, outRe_, outIm_); }

private:
  int32_t n_ = 0, N_ = 0;
  std::shared_ptr<const TFftPlan> plan_;
  std::vector<double> inRe_, inIm_, outRe_, outIm_, taper_;
};

class TPow2Workspace {
public:
  // N := the next power of two >= n (1 for n < 2); taper m = N − n + 1. False
  // when n is beyond 2^30.
  bool Setup(int32_t n);
  int32_t Requested() const { return n_; }
  int32_t Length() const { return N_; }
  std::span<double> Re() { return re_; }
  std::span<double> Im() { return im_; }
  std::span<const double> Taper() const { return taper_; }
  void ZeroRe();
  void ZeroIm();
  // In place on the work arrays (natural order in and out): sign +1 the forward
  // transform e^(−2πi·jk/N), sign −1 the inverse e^(+2πi·jk/N); no scaling.
  void Transform(double sign);

private:
  int32_t n_ = 0, N_ = 0;
  std::shared_ptr<const TFftPlan> plan_;
  std::vector<double> re_, im_, taper_, tmpRe_, tmpIm_;
};

}  // namespace astrelon

#pragma once
// The column passes of spectrum images: the column pairs (real column k,
// imaginary column half + k) of a plane are transformed in blocks of 16
// adjacent pairs, so that every row of the plane is read and written a whole
// cache line at a time. Which rows feed a sequence and where its points go is
// the caller's.
#include <array>
#include <cstdint>

#include "frequency/fft_plan.h"
#include "frequency/spectrum_slots.h"
#include "platform/parallel_bands.h"

namespace astrelon {

class TColumnBlock {
public:
  static constexpr int Width = 16;

  TColumnBlock(const TFftPlan& plan, int lanes);
  // The block's columns from k0, `used` (1 .. 16) of them.
  void Begin(int64_t k0, int used) {
    k0_ = k0;
    used_ = used;
  }
  int64_t First() const { return k0_; }
  // Sequence point i of every column pair from a row: row[k0 + c] and
  // row[half + k0 + c], the imaginary part times imSign.
  void Put(int32_t i, const float* row, int64_t half, double imSign);
  // Asks for a row's two cache lines of the block ahead of its Put or Get.
  void Prefetch(const float* row, int64_t half) const {
    __builtin_prefetch(row + k0_);
    __builtin_prefetch(row + half + k0_);
    __builtin_prefetch(row + k0_ + Width - 1);
    __builtin_prefetch(row + half + k0_ + Width - 1);
  }
  // Sequence point i from values of the block's columns.
  void PutValues(int32_t i, const double* re, const double* im);
  // The values of the block's columns in a row, for blends.
  void RowValues(const float* row, int64_t half, double* re, double* im) const;
  void Transform();
  // Transformed point i into a row, real and imaginary parts scaled.
  void Get(int32_t i, float* row, int64_t half, double reScale, double imScale) const;

private:
  const TFftPlan& plan_;
  int lanes_;
  std::array<TFftLaneBuffer, Width> buffers_;  // Width / lanes of them in use
  int64_t k0_ = 0;
  int used_ = 0;
};

// Calls fn(block) for each block of the `half` column pairs, after Begin; blocks run in bands.
template <class F>
void ForEachColumnBlock(int64_t half, const TFftPlan& plan, int lanes, F&& fn) {
  const int64_t blocks = (half + TColumnBlock::Width - 1) / TColumnBlock::Width;
  ForEachBand(blocks, SpectrumThreads(blocks, int64_t(plan.Length) * 2 * TColumnBlock::Width),
              [&](int64_t b0, int64_t b1) {
                TColumnBlock block(plan, lanes);
                for (int64_t b = b0; b < b1; ++b) {
                  const int64_t k0 = b * TColumnBlock::Width;
                  block.Begin(k0, int(std::min<int64_t>(TColumnBlock::Width, half - k0)));
                  fn(block);
                }
              });
}

}  // namespace astrelon

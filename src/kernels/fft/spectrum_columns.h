#pragma once
// The column passes of spectrum images: the column pairs (real column k,
// imaginary column half + k) of a plane are transformed in blocks of 16
// adjacent pairs, so that every row of the plane is read and written a whole
// cache line at a time. Which rows feed a sequence and where its points go is
// the caller's.
#include <array>
#include <cstdint>

#include "kernels/fft/fft_plan.h"
#include "kernels/fft/spectrum_slots.h"
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
  // Every sequence point i whose row rowOf(i) gives (row[k0 + c] and
  // row[half + k0 + c], the imaginary part times imSign); points without a row
  // (nullptr) are left for PutValues. Points go in the order of their positions
  // in the transform, rows being asked for ahead.
  template <class RowOf>
  void Load(RowOf&& rowOf, int64_t half, double imSign) {
    const int32_t M = plan_.Length;
    for (int32_t p = 0; p < M; ++p) {
      if (p + Ahead < M) Prefetch(rowOf(plan_.InputAt[size_t(p + Ahead)]), half);
      if (const float* row = rowOf(plan_.InputAt[size_t(p)])) PutAt(p, row, half, imSign);
    }
  }
  // Sequence point i from values of the block's columns.
  void PutValues(int32_t i, const double* re, const double* im);
  // The values of the block's columns in a row, for blends.
  void RowValues(const float* row, int64_t half, double* re, double* im) const;
  void Transform();
  // Transformed point i of the block's 16 columns (columns beyond `used` 0).
  void Point(int32_t i, double* re, double* im) const;
  // Transformed points 0 .. count − 1 into the rows rowOf(i) (none for nullptr),
  // real and imaginary parts scaled.
  template <class RowOf>
  void Store(int32_t count, RowOf&& rowOf, int64_t half, double reScale, double imScale) const {
    for (int32_t i = 0; i < count; ++i) {
      if (i + Ahead < count) Prefetch(rowOf(i + Ahead), half);
      if (float* row = rowOf(i)) GetAt(i, row, half, reScale, imScale);
    }
  }

private:
  static constexpr int32_t Ahead = 64;  // rows asked for ahead
  void Prefetch(const float* row, int64_t half) const {
    if (!row) return;
    __builtin_prefetch(row + k0_);
    __builtin_prefetch(row + half + k0_);
    __builtin_prefetch(row + k0_ + Width - 1);
    __builtin_prefetch(row + half + k0_ + Width - 1);
  }
  void PutAt(int32_t position, const float* row, int64_t half, double imSign);
  void GetAt(int32_t i, float* row, int64_t half, double reScale, double imScale) const;

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

#pragma once
// Two-dimensional transforms of small real images in single precision, for
// correlations through products of spectra where float rounding will do. The
// columns are transformed first, several side by side as the rows hold them
// (two columns per lane, as real and imaginary part), then the rows of the half
// of the row frequencies that a real image needs. The results do not depend on
// the lane count: every lane computes the same operations in the same order.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "kernels/fft/fft_plan.h"

namespace astrelon {

// A half spectrum as TRealFft2DSingle keeps it: the row frequencies v = 0 ..
// Ny/2 in groups of Lanes() (lanes beyond Ny/2 hold zeros), each group's column
// frequencies u = 0 .. Nx − 1 one after another: bin (u, v) with v = g ·
// Lanes() + l at (g · Nx + u) · Lanes() + l. Products of such spectra are taken
// value by value.
class TSingleSpectrum {
public:
  float* Re() { return reinterpret_cast<float*>(re_.data()); }
  float* Im() { return reinterpret_cast<float*>(im_.data()); }
  const float* Re() const { return reinterpret_cast<const float*>(re_.data()); }
  const float* Im() const { return reinterpret_cast<const float*>(im_.data()); }
  size_t Size() const { return size_; }
  // Room for `size` values (a multiple of 16).
  void Resize(size_t size) {
    re_.resize((size + 15) / 16);
    im_.resize(re_.size());
    size_ = size;
  }

private:
  struct alignas(64) TBlock {
    float f[16];
  };
  std::vector<TBlock> re_, im_;
  size_t size_ = 0;
};

// Keeps its tables and work lines between calls; one per thread that transforms.
class TRealFft2DSingle {
public:
  // Nx and Ny must be good lengths (IsGoodFftLength). The transforms run up
  // to `lanes` lines side by side (1, 4, 8 or 16; fewer where the processor
  // or the switches do not allow them), with the same results.
  TRealFft2DSingle(int32_t nx, int32_t ny, int lanes);
  // The most lanes the vector path (`vector`) or the plain one runs.
  static int LanesFor(bool vector);
  int32_t Nx() const { return nx_; }
  int32_t Ny() const { return ny_; }
  int Lanes() const { return lanes_; }

  // The spectrum (unscaled, e^(−2πi·jk/N) in both directions) of the w x h
  // image (w <= Nx, h <= Ny; rows `stride` values apart) less `offset`, padded
  // with zeros.
  void Forward(const float* image, int32_t w, int32_t h, int64_t stride, TSingleSpectrum& out, float offset) const;
  // Columns 0 .. w − 1 of rows 0 .. h − 1 (w <= Nx, h <= Ny) of the real image
  // whose half spectrum `in` is (the inverse transform divided by Nx·Ny) into
  // out (rows `stride` apart).
  void Inverse(const TSingleSpectrum& in, int32_t w, int32_t h, float* out, int64_t stride) const;
  // out := conj(a) · b, value by value.
  void ConjugateProduct(const TSingleSpectrum& a, const TSingleSpectrum& b, TSingleSpectrum& out) const;

  // What the lane kernels read (the plans and work lines).
  struct TShape {
    int32_t Nx, Ny, Groups;
    const TFftPlan* PlanX;
    const TFftPlan* PlanY;
    float* LineRe;  // Ny · 16 values, 64-byte aligned
    float* LineIm;
    float* WorkRe;  // a spectrum's size, 64-byte aligned
    float* WorkIm;
    float* Scratch;  // 4 · Groups · Lanes² values
  };

private:
  int32_t nx_, ny_;
  int lanes_, groups_;
  std::shared_ptr<const TFftPlan> planX_, planY_;
  mutable TSingleSpectrum line_, work_, scratch_;
};

}  // namespace astrelon

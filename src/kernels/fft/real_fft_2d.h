#pragma once
// Two-dimensional transforms of small real images in double precision: the
// half spectrum of an image zero-padded to Nx x Ny, and the real image back
// from a half spectrum, for correlations computed through products of spectra.
#include <cstdint>
#include <memory>
#include <vector>

#include "kernels/fft/fft_plan.h"

namespace astrelon {

// Bins 0 .. Nx/2 of every row frequency; bin k of row frequency v at v * (Nx/2 + 1) + k.
struct THalfSpectrum {
  std::vector<double> Re, Im;
};

class TRealLinePairs;

// Keeps its tables and work lines between calls; one per thread that transforms.
class TRealFft2D {
public:
  // Nx and Ny must be good lengths (IsGoodFftLength); `vector` lets the
  // transforms run several lines side by side (the same results).
  TRealFft2D(int32_t nx, int32_t ny, bool vector);
  ~TRealFft2D();
  int32_t Nx() const { return nx_; }
  int32_t Ny() const { return ny_; }
  int32_t HalfBins() const { return nx_ / 2 + 1; }

  // The spectrum (unscaled, e^(−2πi·jk/N) in both directions) of the w x h
  // image (w <= Nx, h <= Ny; rows `stride` values apart) less `offset`, padded
  // with zeros.
  void Forward(const double* image, int32_t w, int32_t h, int64_t stride, THalfSpectrum& out, double offset = 0);
  void Forward(const float* image, int32_t w, int32_t h, int64_t stride, THalfSpectrum& out, double offset = 0);
  // Columns 0 .. w − 1 of rows 0 .. h − 1 of the real image whose spectrum
  // `in` is (the inverse transform divided by Nx·Ny) into out (rows `stride`
  // apart). `in` is taken as the half of a Hermitian spectrum; the transform
  // runs in it, so it holds no spectrum afterwards.
  void Inverse(THalfSpectrum& in, int32_t w, int32_t h, double* out, int64_t stride);

private:
  template <class T>
  void ForwardOf(const T* image, int32_t w, int32_t h, int64_t stride, THalfSpectrum& out, double offset);
  void Columns(THalfSpectrum& s, bool inverse);
  template <int L>
  void ColumnsOf(THalfSpectrum& s, bool inverse);

  int32_t nx_, ny_;
  int lanes_;
  std::shared_ptr<const TFftPlan> planX_, planY_;
  std::unique_ptr<TRealLinePairs> lines_;
  TFftLaneBuffer columns_;
  std::vector<double> lineA_, lineB_;
};

// The smallest length >= n whose only prime factors are 2, 3 and 5 (the
// engine's fastest radices).
int32_t NextFastFftSize(int32_t n);

}  // namespace astrelon

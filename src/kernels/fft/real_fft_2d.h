#pragma once
// Two-dimensional transforms of small real images in double precision: the
// half spectrum of an image zero-padded to Nx x Ny, and the real image back
// from a half spectrum, for correlations computed through products of spectra.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "kernels/fft/fft_plan.h"

namespace astrelon {

// Bins 0 .. Nx/2 of every row frequency; bin k of row frequency v at v * (Nx/2 + 1) + k.
struct THalfSpectrum {
  std::vector<double> Re, Im;
};

// A half spectrum as the column transforms hold it: the bins in groups of
// Lanes(), each group's row frequencies one after another, so that a group's
// column transforms run side by side where it lies. Bin k of row frequency v
// stands at (g · Ny + v) · Lanes() + l, with k = g · Lanes() + l; the lanes of
// the last group beyond Nx/2 hold zeros. Products of such spectra are taken
// value by value, in any layout alike.
class TLaneSpectrum {
public:
  double* Re() { return buffer_.Re(); }
  double* Im() { return buffer_.Im(); }
  const double* Re() const { return buffer_.Re(); }
  const double* Im() const { return buffer_.Im(); }
  size_t Size() const { return size_; }
  // Room for `size` values (a product of two spectra takes theirs); new ones are 0.
  void Resize(size_t size) {
    if (size == size_) return;
    buffer_.Resize(int32_t(size), 1);
    size_ = size;
  }

private:
  friend class TRealFft2D;
  TFftLaneBuffer buffer_;
  size_t size_ = 0;
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
  int Lanes() const { return lanes_; }

  // The spectrum (unscaled, e^(−2πi·jk/N) in both directions) of the w x h
  // image (w <= Nx, h <= Ny; rows `stride` values apart) less `offset`, padded
  // with zeros.
  void Forward(const double* image, int32_t w, int32_t h, int64_t stride, TLaneSpectrum& out, double offset = 0);
  void Forward(const float* image, int32_t w, int32_t h, int64_t stride, TLaneSpectrum& out, double offset = 0);
  // Columns 0 .. w − 1 of rows 0 .. h − 1 of the real image whose spectrum
  // `in` is (the inverse transform divided by Nx·Ny) into out (rows `stride`
  // apart). `in` is taken as the half of a Hermitian spectrum.
  void Inverse(const TLaneSpectrum& in, int32_t w, int32_t h, double* out, int64_t stride);

  // The same with the spectrum in rows (the same values).
  void Forward(const double* image, int32_t w, int32_t h, int64_t stride, THalfSpectrum& out, double offset = 0);
  void Inverse(const THalfSpectrum& in, int32_t w, int32_t h, double* out, int64_t stride);

private:
  template <class T>
  void ForwardOf(const T* image, int32_t w, int32_t h, int64_t stride, TLaneSpectrum& out, double offset);
  void Shape(TLaneSpectrum& s) const;

  int32_t nx_, ny_;
  int lanes_, groups_;
  std::shared_ptr<const TFftPlan> planX_, planY_;
  std::unique_ptr<TRealLinePairs> lines_;
  TLaneSpectrum work_, rows_;
  std::vector<double> lineA_, lineB_, binRe_, binIm_;
};

// The smallest length >= n whose only prime factors are 2, 3 and 5 (the
// engine's fastest radices).
int32_t NextFastFftSize(int32_t n);

}  // namespace astrelon

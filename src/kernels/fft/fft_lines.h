#pragma once
// Transforms of real lines two at a time: lane l of a lane buffer carries one
// line as real part and a second as imaginary part. The spectra of the two are
// separated after the forward transform; two Hermitian spectra are packed the
// same way to give two real lines from one transform. Lines are read in the
// order of the transform's positions, so that the buffer fills front to back.
#include <array>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "kernels/fft/fft_plan.h"

namespace astrelon {

constexpr int MaxFftLanes = 8;

class TRealLinePairs {
public:
  template <class T>
  using TLines = std::array<const T*, MaxFftLanes>;

  TRealLinePairs(const TFftPlan& plan, int lanes)
      : plan_(plan), N_(plan.Length), L_(lanes), buf_(plan.Length, lanes), zerosF_(size_t(plan.Length)),
        zerosD_(size_t(plan.Length)) {}
  TRealLinePairs(const TRealLinePairs&) = delete;
  TRealLinePairs& operator=(const TRealLinePairs&) = delete;

  int32_t Length() const { return N_; }
  int Lanes() const { return L_; }

  // Lane l: line a[l] (N values) as real part, line b[l] as imaginary part; a
  // missing line (nullptr) is zeros.
  template <class T>
  void LoadPairs(TLines<T> a, TLines<T> b) {
    Fill(a), Fill(b);
    switch (L_) {
      case 8: return LoadPairsOf<8>(a, b);
      case 4: return LoadPairsOf<4>(a, b);
      case 2: return LoadPairsOf<2>(a, b);
      default: return LoadPairsOf<1>(a, b);
    }
  }
  // Lane l: the Hermitian spectra A and B (bins 0 .. N/2: real parts aRe, bRe,
  // imaginary parts aIm, bIm; missing ones zeros) packed as A + i·B over all N
  // bins, bin N − k the conjugate of bin k; the imaginary parts of bins 0 and
  // N/2 count as 0. With `conjugate` A and B are conjugated first, so that the
  // forward transform gives the unscaled inverse.
  template <class T>
  void LoadHermitianPairs(TLines<T> aRe, TLines<T> aIm, TLines<T> bRe, TLines<T> bIm, bool conjugate) {
    Fill(aRe), Fill(aIm), Fill(bRe), Fill(bIm);
    switch (L_) {
      case 8: return LoadHermitianPairsOf<8>(aRe, aIm, bRe, bIm, conjugate);
      case 4: return LoadHermitianPairsOf<4>(aRe, aIm, bRe, bIm, conjugate);
      case 2: return LoadHermitianPairsOf<2>(aRe, aIm, bRe, bIm, conjugate);
      default: return LoadHermitianPairsOf<1>(aRe, aIm, bRe, bIm, conjugate);
    }
  }
  void Transform() { RunFftPasses(plan_, buf_.Re(), buf_.Im(), L_); }

  // After Transform: point i of lane l at [i · Lanes() + l].
  const double* PointsRe() const { return buf_.Re(); }
  const double* PointsIm() const { return buf_.Im(); }
  // After Transform: point i of lane l.
  double Re(int l, int32_t i) const { return buf_.Re()[size_t(i) * size_t(L_) + size_t(l)]; }
  double Im(int l, int32_t i) const { return buf_.Im()[size_t(i) * size_t(L_) + size_t(l)]; }
  // After LoadPairs and Transform: bin k (0 .. N/2) of lines a and b, unscaled.
  void SplitBin(int l, int32_t k, double& ar, double& ai, double& br, double& bi) const {
    const int32_t nk = k == 0 ? 0 : N_ - k;
    const double xr = Re(l, k), xi = Im(l, k), yr = Re(l, nk), yi = Im(l, nk);
    if (k == 0) {
      ar = xr, ai = 0.0, br = xi, bi = 0.0;
      return;
    }
    ar = (xr + yr) * 0.5;
    ai = (xi - yi) * 0.5;
    br = (xi + yi) * 0.5;
    bi = (yr - xr) * 0.5;
  }

  // SplitBin for every bin 0 .. N/2 of lane l into four arrays.
  void SplitBins(int l, double* ar, double* ai, double* br, double* bi) const {
    for (int32_t k = 0; k <= N_ / 2; ++k) SplitBin(l, k, ar[k], ai[k], br[k], bi[k]);
  }

private:
  // The loads for a fixed lane count, the line pointers held in locals.
  template <int L, class T>
  void LoadPairsOf(const TLines<T>& a, const TLines<T>& b) {
    const T* pa[L];
    const T* pb[L];
    for (int l = 0; l < L; ++l) pa[l] = a[size_t(l)], pb[l] = b[size_t(l)];
    double* re = buf_.Re();
    double* im = buf_.Im();
    const int32_t* input = plan_.InputAt.data();
    for (int32_t p = 0; p < N_; ++p, re += L, im += L) {
      const int32_t i = input[p];
      for (int l = 0; l < L; ++l) {
        re[l] = double(pa[l][i]);
        im[l] = double(pb[l][i]);
      }
    }
  }
  template <int L, class T>
  void LoadHermitianPairsOf(const TLines<T>& aRe, const TLines<T>& aIm, const TLines<T>& bRe, const TLines<T>& bIm,
                            bool conjugate) {
    const T* ar[L];
    const T* ai[L];
    const T* br[L];
    const T* bi[L];
    for (int l = 0; l < L; ++l)
      ar[l] = aRe[size_t(l)], ai[l] = aIm[size_t(l)], br[l] = bRe[size_t(l)], bi[l] = bIm[size_t(l)];
    double* re = buf_.Re();
    double* im = buf_.Im();
    const int32_t* input = plan_.InputAt.data();
    const int32_t half = N_ / 2;
    const double s = conjugate ? -1.0 : 1.0;
    for (int32_t p = 0; p < N_; ++p, re += L, im += L) {
      const int32_t k = input[p];
      const bool lower = k <= half;
      const int32_t j = lower ? k : N_ - k;
      const double sign = (j == 0 || 2 * j == N_) ? 0.0 : (lower ? s : -s);
      for (int l = 0; l < L; ++l) {
        const double xr = double(ar[l][j]), xi = sign * double(ai[l][j]);
        const double yr = double(br[l][j]), yi = sign * double(bi[l][j]);
        re[l] = xr - yi;
        im[l] = xi + yr;
      }
    }
  }

  // Missing lines of the lanes in use read zeros.
  template <class T>
  void Fill(TLines<T>& lines) const {
    const T* zeros;
    if constexpr (std::is_same_v<T, float>)
      zeros = zerosF_.data();
    else
      zeros = zerosD_.data();
    for (int l = 0; l < L_; ++l)
      if (!lines[size_t(l)]) lines[size_t(l)] = zeros;
  }

  const TFftPlan& plan_;
  int32_t N_;
  int L_;
  TFftLaneBuffer buf_;
  std::vector<float> zerosF_;
  std::vector<double> zerosD_;
};

}  // namespace astrelon

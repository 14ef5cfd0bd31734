#pragma once
// Transforms of real lines two at a time: lane l of a lane buffer carries one
// line as real part and a second as imaginary part. The spectra of the two are
// separated after the forward transform; two Hermitian spectra are packed the
// same way to give two real lines from one transform.
#include <cstdint>

#include "frequency/fft_plan.h"

namespace astrelon {

class TRealLinePairs {
public:
  TRealLinePairs(const TFftPlan& plan, int lanes) : plan_(plan), N_(plan.Length), L_(lanes), buf_(plan.Length, lanes) {}

  int32_t Length() const { return N_; }
  int Lanes() const { return L_; }

  // Lane l: line a (N values at `stride`) as real part, line b as imaginary part
  // (b == nullptr: zeros).
  template <class T>
  void LoadPair(int l, const T* a, const T* b, int64_t stride = 1) {
    double* re = buf_.Re();
    double* im = buf_.Im();
    const int32_t* perm = plan_.Permutation.data();
    for (int32_t i = 0; i < N_; ++i) {
      const size_t p = size_t(perm[i]) * size_t(L_) + size_t(l);
      re[p] = double(a[i * stride]);
      im[p] = b ? double(b[i * stride]) : 0.0;
    }
  }
  // An unused lane.
  void ClearLane(int l) {
    for (int32_t i = 0; i < N_; ++i) buf_.Re()[size_t(i) * size_t(L_) + size_t(l)] = buf_.Im()[size_t(i) * size_t(L_) + size_t(l)] = 0.0;
  }
  // Lane l: the Hermitian spectra A and B (bins 0 .. N/2 as re, im arrays at
  // stride 1; B may be null) packed as A + i·B over all N bins; the imaginary
  // parts of bins 0 and N/2 count as 0. With `conjugate` A and B are conjugated
  // first, so that the forward transform gives the unscaled inverse.
  template <class T>
  void LoadHermitianPair(int l, const T* aRe, const T* aIm, const T* bRe, const T* bIm, bool conjugate) {
    double* re = buf_.Re();
    double* im = buf_.Im();
    const int32_t* perm = plan_.Permutation.data();
    const int32_t half = N_ / 2;
    const double s = conjugate ? -1.0 : 1.0;
    auto put = [&](int32_t k, double ar, double ai, double br, double bi) {
      const size_t p = size_t(perm[k]) * size_t(L_) + size_t(l);
      re[p] = ar - bi;
      im[p] = ai + br;
    };
    // Bins 0 and N/2 are real; bin N − k is the conjugate of bin k.
    put(0, double(aRe[0]), 0.0, bRe ? double(bRe[0]) : 0.0, 0.0);
    for (int32_t k = 1; k < N_ - half; ++k) {
      const double ar = double(aRe[k]), ai = s * double(aIm[k]);
      const double br = bRe ? double(bRe[k]) : 0.0, bi = bRe ? s * double(bIm[k]) : 0.0;
      put(k, ar, ai, br, bi);
      put(N_ - k, ar, -ai, br, -bi);
    }
    if (2 * half == N_ && half > 0) put(half, double(aRe[half]), 0.0, bRe ? double(bRe[half]) : 0.0, 0.0);
  }
  void Transform() { RunFftPasses(plan_, buf_.Re(), buf_.Im(), L_); }

  // After Transform: point i of lane l.
  double Re(int l, int32_t i) const { return buf_.Re()[size_t(i) * size_t(L_) + size_t(l)]; }
  double Im(int l, int32_t i) const { return buf_.Im()[size_t(i) * size_t(L_) + size_t(l)]; }
  // After a LoadPair and Transform: bin k (0 .. N/2) of lines a and b, unscaled.
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

private:
  const TFftPlan& plan_;
  int32_t N_;
  int L_;
  TFftLaneBuffer buf_;
  TRealLinePairs(const TRealLinePairs&) = delete;
};

}  // namespace astrelon

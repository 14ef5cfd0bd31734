#include "kernels/fft/fft_workspace.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <numbers>
#include <stdexcept>

namespace astrelon {

namespace {

void CheckLength(const TFftPlan& plan, size_t size) {
  if (size < size_t(plan.Length)) throw std::invalid_argument("Interner Fehler: Ein Transformationsfeld ist kürzer als seine Länge.");
}

// A new length: its kept plan, and work arrays of at least N + 1 values.
void SetLength(int32_t N, int32_t& length, std::shared_ptr<const TFftPlan>& plan,
               std::initializer_list<std::vector<double>*> arrays) {
  if (N == length && plan) return;
  plan = FftPlanFor(N);
  length = N;
  for (auto* v : arrays)
    if (v->size() < size_t(N) + 1) v->resize(size_t(N) + 1, 0.0);
}

}  // namespace

void MixedRadixFft(const TFftPlan& plan, std::span<const double> inRe, std::span<const double> inIm,
                   std::span<double> outRe, std::span<double> outIm) {
  for (size_t s : {inRe.size(), inIm.size(), outRe.size(), outIm.size()}) CheckLength(plan, s);
  const int32_t n = plan.Length;
  if (inRe.data() == outRe.data() || inIm.data() == outIm.data()) {
    // In place: permute through a copy.
    std::vector<double> r(inRe.begin(), inRe.begin() + n), i(inIm.begin(), inIm.begin() + n);
    for (int32_t k = 0; k < n; ++k) {
      outRe[size_t(plan.Permutation[size_t(k)])] = r[size_t(k)];
      outIm[size_t(plan.Permutation[size_t(k)])] = i[size_t(k)];
    }
  } else {
    for (int32_t k = 0; k < n; ++k) {
      outRe[size_t(plan.Permutation[size_t(k)])] = inRe[size_t(k)];
      outIm[size_t(plan.Permutation[size_t(k)])] = inIm[size_t(k)];
    }
  }
  RunFftPasses(plan, outRe.data(), outIm.data(), 1);
}

void MixedRadixRealFft(const TFftPlan& plan, std::span<const double> inRe, std::span<double> outRe,
                       std::span<double> outIm) {
  for (size_t s : {inRe.size(), outRe.size(), outIm.size()}) CheckLength(plan, s);
  std::fill(outIm.begin(), outIm.end(), 0.0);
  const int32_t n = plan.Length;
  if (inRe.data() == outRe.data()) {
    std::vector<double> r(inRe.begin(), inRe.begin() + n);
    for (int32_t k = 0; k < n; ++k) outRe[size_t(plan.Permutation[size_t(k)])] = r[size_t(k)];
  } else {
    for (int32_t k = 0; k < n; ++k) outRe[size_t(plan.Permutation[size_t(k)])] = inRe[size_t(k)];
  }
  RunFftPasses(plan, outRe.data(), outIm.data(), 1);
}

void HermitianComplete(int32_t n, std::span<double> re, std::span<double> im) {
  if (re.size() < size_t(n) || im.size() < size_t(n)) throw std::invalid_argument("Interner Fehler: Die Felder der hermiteschen Ergänzung sind zu kurz.");
  for (int32_t k = 1; k <= n / 2; ++k) {
    re[size_t(n - k)] = re[size_t(k)];
    im[size_t(n - k)] = -im[size_t(k)];
  }
}

std::vector<double> TaperTable(int32_t m) {
  std::vector<double> t(size_t(std::max(m, 0)));
  for (int32_t i = 0; i < m; ++i) t[size_t(i)] = 0.5 + 0.5 * std::cos((i + 0.5) * std::numbers::pi / m);
  return t;
}

bool TFftWorkspace::Setup(int32_t n, bool even) {
  const int32_t N = NextGoodFftSize(n, even);
  if (N < 1) return false;
  SetLength(N, N_, plan_, {&inRe_, &inIm_, &outRe_, &outIm_});
  const int32_t m = N - n + 1;
  if (n != n_ || taper_.size() != size_t(m)) taper_ = TaperTable(m);
  n_ = n;
  return true;
}

bool TPow2Workspace::Setup(int32_t n) {
  const int32_t N = NextPowerOfTwo(n);
  if (N < 1) return false;
  SetLength(N, N_, plan_, {&re_, &im_, &tmpRe_, &tmpIm_});
  const int32_t m = N - n + 1;
  if (taper_.size() != size_t(std::max(m, 0))) taper_ = TaperTable(m);
  n_ = n;
  return true;
}

void TPow2Workspace::ZeroRe() { std::fill(re_.begin(), re_.end(), 0.0); }
void TPow2Workspace::ZeroIm() { std::fill(im_.begin(), im_.end(), 0.0); }

void TPow2Workspace::Transform(double sign) {
  if (!plan_) return;
  // The inverse is the conjugate of the forward transform of the conjugate.
  if (sign < 0)
    for (int32_t k = 0; k < N_; ++k) im_[size_t(k)] = -im_[size_t(k)];
  MixedRadixFft(*plan_, re_, im_, tmpRe_, tmpIm_);
  std::copy(tmpRe_.begin(), tmpRe_.begin() + N_, re_.begin());
  if (sign < 0)
    for (int32_t k = 0; k < N_; ++k) im_[size_t(k)] = -tmpIm_[size_t(k)];
  else
    std::copy(tmpIm_.begin(), tmpIm_.begin() + N_, im_.begin());
}

}  // namespace astrelon

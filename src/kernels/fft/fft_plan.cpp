#include "kernels/fft/fft_plan.h"

#include <cmath>
#include <map>
#include <mutex>
#include <numbers>

// Clang would otherwise fuse a product and a sum of one expression where the
// processor offers it (AVX-512), which rounds once instead of twice.
#if defined(__clang__)
#pragma clang fp contract(off)
#endif
#include "kernels/fft/fft_butterflies.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"

namespace astrelon {

namespace {

// cos and −sin of 2π·a/d, exact at the quarter turns.
void Twiddle(int64_t a, int64_t d, double& c, double& s) {
  a %= d;
  if (a == 0) {
    c = 1.0, s = 0.0;
    return;
  }
  if (4 * a == d) {
    c = 0.0, s = -1.0;
    return;
  }
  if (2 * a == d) {
    c = -1.0, s = 0.0;
    return;
  }
  if (4 * a == 3 * d) {
    c = 0.0, s = 1.0;
    return;
  }
  const double t = 2.0 * std::numbers::pi * double(a) / double(d);
  c = std::cos(t);
  s = -std::sin(t);
}

}  // namespace

std::unique_ptr<TFftPlan> MakeFftPlan(int32_t n) {
  const TFftFactors f = FactorizeFftLength(n);
  if (f.Count < 1 || f.Radix[0] > LargestFftRadix) return nullptr;
  auto plan = std::make_unique<TFftPlan>();
  plan->Length = n;
  plan->Factors = f;
  // Input point i = Σ d_t · Q_t (digit d_t of radix R_t, most significant first)
  // goes to position Σ d_t · P_t.
  plan->Permutation.resize(size_t(n));
  for (int32_t i = 0; i < n; ++i) {
    int64_t rest = i, pos = 0, P = 1, Q = n;
    for (int t = 0; t < f.Count; ++t) {
      Q /= f.Radix[size_t(t)];
      pos += (rest / Q) * P;
      rest %= Q;
      P *= f.Radix[size_t(t)];
    }
    plan->Permutation[size_t(i)] = int32_t(pos);
  }
  plan->InputAt.resize(size_t(n));
  for (int32_t i = 0; i < n; ++i) plan->InputAt[size_t(plan->Permutation[size_t(i)])] = i;
  int64_t P = 1;
  for (int t = 0; t < f.Count; ++t) {
    const int32_t R = f.Radix[size_t(t)];
    TFftPass pass;
    pass.Radix = R;
    pass.P = int32_t(P);
    pass.Q = int32_t(int64_t(n) / (P * R));
    pass.Twiddles = plan->Twiddles.size();
    for (int64_t j = 0; j < P; ++j)
      for (int k = 1; k < R; ++k) {
        double c, s;
        Twiddle(j * k, P * R, c, s);
        plan->Twiddles.push_back(c);
        plan->Twiddles.push_back(s);
      }
    if (R > 5 && R != 8 && R != 10) {
      pass.Dft = plan->DftTables.size();
      for (int m = 0; m < R; ++m) plan->DftTables.push_back(std::cos(2.0 * std::numbers::pi * m / R));
      for (int m = 0; m < R; ++m) plan->DftTables.push_back(std::sin(2.0 * std::numbers::pi * m / R));
    }
    plan->Passes.push_back(pass);
    P *= R;
  }
  plan->TwiddlesSingle.assign(plan->Twiddles.begin(), plan->Twiddles.end());
  plan->DftTablesSingle.assign(plan->DftTables.begin(), plan->DftTables.end());
  return plan;
}

std::shared_ptr<const TFftPlan> FftPlanFor(int32_t n) {
  static std::mutex lock;
  static std::map<int32_t, std::shared_ptr<const TFftPlan>> plans;
  std::lock_guard guard(lock);
  auto& kept = plans[n];
  if (!kept) kept = MakeFftPlan(n);
  return kept;
}

int FftLaneCount(bool vector) {
  if (!vector) return 1;
  return UseAvx2(true) ? 4 : 2;
}

namespace {

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 void RunPassesAvx2(const TFftPlan& plan, double* re, double* im) {
  fft::RunPasses(plan, reinterpret_cast<fft::TLanes4*>(re), reinterpret_cast<fft::TLanes4*>(im));
}
// Eight lanes; products and sums stay apart (no fused multiply-add), as on every other path.
ASTRELON_AVX512 void RunPassesAvx512(const TFftPlan& plan, double* re, double* im) {
  fft::RunPasses(plan, reinterpret_cast<fft::TLanes8*>(re), reinterpret_cast<fft::TLanes8*>(im));
}
ASTRELON_AVX2 void RunPassesAvx2(const TFftPlan& plan, float* re, float* im) {
  fft::RunPasses(plan, reinterpret_cast<fft::TLanesF8*>(re), reinterpret_cast<fft::TLanesF8*>(im));
}
ASTRELON_AVX512 void RunPassesAvx512(const TFftPlan& plan, float* re, float* im) {
  fft::RunPasses(plan, reinterpret_cast<fft::TLanesF16*>(re), reinterpret_cast<fft::TLanesF16*>(im));
}
#endif

}  // namespace

void RunFftPasses(const TFftPlan& plan, double* re, double* im, int lanes) {
  switch (lanes) {
    case 8:
#if ASTRELON_HAVE_AVX2
      if (CpuRunsAvx512()) {
        RunPassesAvx512(plan, re, im);
        break;
      }
#endif
      fft::RunPasses(plan, reinterpret_cast<fft::TLanes8*>(re), reinterpret_cast<fft::TLanes8*>(im));
      break;
    case 4:
#if ASTRELON_HAVE_AVX2
      if (CpuHasAvx2()) {
        RunPassesAvx2(plan, re, im);
        break;
      }
#endif
      fft::RunPasses(plan, reinterpret_cast<fft::TLanes4*>(re), reinterpret_cast<fft::TLanes4*>(im));
      break;
    case 2:
      fft::RunPasses(plan, reinterpret_cast<fft::TLanes2*>(re), reinterpret_cast<fft::TLanes2*>(im));
      break;
    default:
      fft::RunPasses(plan, re, im);
      break;
  }
}

void RunFftPasses(const TFftPlan& plan, float* re, float* im, int lanes) {
  switch (lanes) {
    case 16:
#if ASTRELON_HAVE_AVX2
      if (CpuRunsAvx512()) {
        RunPassesAvx512(plan, re, im);
        break;
      }
#endif
      fft::RunPasses(plan, reinterpret_cast<fft::TLanesF16*>(re), reinterpret_cast<fft::TLanesF16*>(im));
      break;
    case 8:
#if ASTRELON_HAVE_AVX2
      if (CpuHasAvx2()) {
        RunPassesAvx2(plan, re, im);
        break;
      }
#endif
      fft::RunPasses(plan, reinterpret_cast<fft::TLanesF8*>(re), reinterpret_cast<fft::TLanesF8*>(im));
      break;
    case 4:
      fft::RunPasses(plan, reinterpret_cast<fft::TLanesF4*>(re), reinterpret_cast<fft::TLanesF4*>(im));
      break;
    default:
      fft::RunPasses(plan, re, im);
      break;
  }
}

}  // namespace astrelon

#include "kernels/background/min_blur_windows.h"

#include <cmath>

namespace astrelon {

namespace {
constexpr double Sin45 = 0.70710678118654752440;
}

TMinBlurStencil MinBlurStencil(int32_t reach, float scale) {
  TMinBlurStencil s;
  const int32_t r = std::max(reach, 1);
  const int32_t k = std::max(int32_t(std::lround(r * Sin45)), 1);
  const double wd = r * Sin45 / k;
  s.Reach = r;
  s.K = k;
  s.Diagonal = wd;
  s.Dx = {-k, 0, k, -r, r, -k, 0, k};
  s.Dy = {-k, -r, -k, 0, 0, k, r, k};
  s.Weight = {wd, 1, wd, 1, 1, wd, 1, wd};
  s.Centre = (4 * wd + 4) * double(scale);
  return s;
}

TStepWindows::TStepWindows(int32_t reach, int32_t deepest, float scale)
    : reach_(std::min(std::max(std::abs(reach), 1), std::max(deepest, 1))), rejecting_(reach < 0) {
  full_.resize(size_t(reach_) + 1);
  for (int32_t l = 1; l <= reach_; ++l) full_[size_t(l)] = MinBlurStencil(l, scale);
  // The diagonal pair at distance m: the largest reach whose diagonal step k
  // fits into CentredReach(m).
  diagonal_.assign(size_t(std::max(deepest, 1)) + 1, 1);
  int32_t l = 1;
  for (int32_t m = 1; m < int32_t(diagonal_.size()); ++m) {
    const int32_t room = CentredReach(m, reach_);
    while (l < reach_ && full_[size_t(l) + 1].K <= room) ++l;
    diagonal_[size_t(m)] = l;
  }
}

TMinBlurStencil TStepWindows::Window(int32_t h, int32_t v, int32_t d) const {
  TMinBlurStencil s = full_[size_t(d)];
  s.Reach = reach_;
  s.Centre = full_[size_t(reach_)].Centre;
  s.Dx[3] = -h;
  s.Dx[4] = h;
  s.Dy[1] = -v;
  s.Dy[6] = v;
  return s;
}

}  // namespace astrelon

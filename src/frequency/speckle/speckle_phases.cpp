#include "frequency/speckle/speckle_phases.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "store/image_store.h"

namespace astrelon {

TSpecklePhaseWalk::TSpecklePhaseWalk(const TSpeckleAccumulators& acc, int layer, const TShiftVectors& vectors,
                                     const TSpeckleLayerNoise& noise, const TSpeckleLayerSums& sums, int32_t maxSteps,
                                     int32_t mx, int32_t my, bool kt, std::span<float> result)
    : acc_(acc),
      layer_(layer),
      v_(vectors),
      noise_(noise),
      n_(std::clamp(std::min(vectors.Regular, acc.Vectors), 0, TShiftVectors::Capacity)),
      maxSteps_(std::max(maxSteps, 0)),
      mx_(mx),
      my_(my),
      result_(result),
      W_(acc.Width),
      H_(acc.Height),
      half_(acc.Half()) {
  for (int32_t u = 1; u <= n_; ++u) usable_[size_t(u)] = kt || u <= 3;
  if (!kt)
    for (int32_t u = 1; u <= std::min(n_, 3); ++u) phi_[size_t(u)] = std::atan2(sums.SumSin[size_t(u)], sums.SumCos[size_t(u)]);
  phi_[0] = noise.Smallest;
  known_.assign(size_t(W_) * size_t(H_), 0);
  // Frequencies that equal a vector not yet usable.
  vectorAt_.assign(size_t(half_) * size_t(H_), 0);
  for (int32_t u = n_; u >= 4; --u) {
    const int32_t x = v_.Dx[size_t(u)], y = H_ / 2 + v_.Dy[size_t(u)];
    if (!usable_[size_t(u)] && x >= 0 && x < half_ && y >= 0 && y < H_) vectorAt_[size_t(y) * size_t(half_) + size_t(x)] = int16_t(u);
  }
  RebuildSteps();
}

void TSpecklePhaseWalk::RebuildSteps() {
  stepList_.clear();
  for (int32_t u = n_; u >= 1; --u)
    if (usable_[size_t(u)])
      stepList_.push_back({u, v_.Dx[size_t(u)], v_.Dy[size_t(u)], acc_.X[size_t(layer_)][size_t(u)].data(),
                           noise_.Weight[size_t(u)]});
}

void TSpecklePhaseWalk::FindPathStep(int32_t level, int32_t fx, int32_t fy, double phaseSum, double varianceSum) {
  const double eps = phi_[0];
  const bool last = level >= steps_;
  // The lines of the next frequency to visit are fetched meanwhile.
  if (level == 1 && nextAt_ >= 0)
    for (const TStep& s : stepList_) {
      const int64_t at = nextAt_ - int64_t(s.Dy) * W_ - s.Dx;
      if (at >= 0 && at < int64_t(W_) * H_) {
        __builtin_prefetch(s.X + at);
        __builtin_prefetch(s.X + at + half_);
      }
    }
  for (const TStep& s : stepList_) {
    const int32_t gx = fx - s.Dx, gy = fy - s.Dy;
    if (gx < 0 || gy < 0 || gy >= H_) continue;
    const size_t at = size_t(gy) * size_t(W_) + size_t(gx);
    if (last && !known_[at]) continue;
    const double phase = phaseSum + (phi_[size_t(s.U)] - s.X[at + size_t(half_)]);
    const double variance = varianceSum + s.Weight / (s.X[at] + eps);
    if (!last) {
      FindPathStep(level + 1, gx, gy, phase, variance);
    } else {
      const double w = variance <= 1e-8 ? 1e8 : 1 / variance;
      const double total = phase + result_[at + size_t(half_)];
      sumCos_ += w * std::cos(total);
      sumSin_ += w * std::sin(total);
    }
  }
}

double TSpecklePhaseWalk::ReconstructPhaseAt(int32_t x, int32_t y) {
  const size_t at = size_t(y) * size_t(W_) + size_t(x);
  double phase;
  if (maxSteps_ == 0) {
    phase = double(y - x - H_ / 2) * std::numbers::pi;
  } else {
    int32_t remembered = 0;
    if (x <= mx_ && std::abs(y - H_ / 2) <= my_) {
      const int32_t u = vectorAt_[size_t(y) * size_t(half_) + size_t(x)];
      if (u >= 4 && !usable_[size_t(u)]) remembered = u;
    }
    sumCos_ = sumSin_ = 0;
    for (steps_ = maxSteps_; steps_ >= 1; --steps_) FindPathStep(1, x, y, 0.0, 0.0);
    phase = std::atan2(sumSin_, sumCos_);
    if (remembered) {
      usable_[size_t(remembered)] = 1;
      phi_[size_t(remembered)] = phase;
      RebuildSteps();
    }
  }
  result_[at + size_t(half_)] = float(phase);
  known_[at] = 1;
  ++count_;
  return phase;
}

std::vector<std::pair<int32_t, int32_t>> SpeckleVisitingOrder(int32_t half, int32_t height) {
  std::vector<std::pair<int32_t, int32_t>> order;
  order.reserve(size_t(half) * size_t(height));
  const int32_t mid = height / 2;
  int32_t i = 1, ring = 0;
  do {
    if (i < half)
      for (int32_t k = 0; k <= std::min(ring, mid); ++k) {
        order.emplace_back(i, mid - k);
        if (k > 0 && k < mid) order.emplace_back(i, mid + k);
      }
    ++ring;
    if (ring <= mid)
      for (int32_t c = 0; c <= std::min(i, half - 1); ++c) {
        order.emplace_back(c, mid - ring);
        if (mid + ring < height) order.emplace_back(c, mid + ring);
      }
    ++i;
  } while (i < half || ring < mid);
  return order;
}

bool TSpecklePhaseWalk::Run(const std::function<void(int64_t)>& progress) {
  const int32_t mid = H_ / 2;
  const int64_t every = maxSteps_ >= 2 ? 10 : 100;
  result_[size_t(mid) * size_t(W_) + size_t(half_)] = 0;
  known_[size_t(mid) * size_t(W_)] = 1;
  // The order is laid out first, so that each visit can fetch ahead for the next.
  const std::vector<std::pair<int32_t, int32_t>> order = SpeckleVisitingOrder(half_, H_);
  for (size_t k = 0; k < order.size(); ++k) {
    nextAt_ = k + 1 < order.size() ? int64_t(order[k + 1].second) * W_ + order[k + 1].first : -1;
    ReconstructPhaseAt(order[k].first, order[k].second);
    if (progress && count_ % every == 0) progress(count_);
    if (AbortRequested) return false;
  }
  nextAt_ = -1;
  return true;
}

}  // namespace astrelon

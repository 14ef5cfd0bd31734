#include "filters/training/training_positions.h"

#include <algorithm>

namespace astrelon {

namespace {
constexpr uint32_t UseAt = 135;
}  // namespace

TTrainingPositions::TTrainingPositions(TStructureMap map, std::vector<TRectI> areas) : map_(std::move(map)) {
  if (areas.empty()) areas.push_back({0, 0, map_.Width - 1, map_.Height - 1});
  for (TRectI r : areas) {
    r.Left = std::max(r.Left, 3);
    r.Top = std::max(r.Top, 3);
    r.Right = std::min(r.Right, map_.Width - 4);
    r.Bottom = std::min(r.Bottom, map_.Height - 4);
    if (r.Right < r.Left || r.Bottom < r.Top) continue;
    areas_.push_back(r);
    weights_.push_back(double(r.Right - r.Left + 1) * double(r.Bottom - r.Top + 1));
  }
}

void TTrainingPositions::Draw(std::mt19937& rng, TCandidate& c) const {
  size_t k = 0;
  if (areas_.size() > 1) k = std::discrete_distribution<size_t>(weights_.begin(), weights_.end())(rng);
  const TRectI& r = areas_[k];
  c.X = std::uniform_int_distribution<int32_t>(r.Left, r.Right)(rng);
  c.Y = std::uniform_int_distribution<int32_t>(r.Top, r.Bottom)(rng);
  __builtin_prefetch(map_.Bytes.data() + size_t(c.Y) * size_t(map_.Width) + size_t(c.X));
}

bool TTrainingPositions::Next(std::mt19937& rng, int32_t& x, int32_t& y) {
  if (areas_.empty()) return false;
  if (!filled_) {
    for (TCandidate& c : ahead_) Draw(rng, c);
    filled_ = true;
  }
  for (;;) {
    const TCandidate c = ahead_[head_];
    Draw(rng, ahead_[head_]);
    head_ = (head_ + 1) % ahead_.size();
    accumulated_ += map_.At(c.X, c.Y);
    if (accumulated_ >= UseAt) {
      accumulated_ = 0;
      x = c.X;
      y = c.Y;
      return true;
    }
  }
}

}  // namespace astrelon

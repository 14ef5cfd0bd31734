#include "frequency/speckle/speckle_phases.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>

#include "platform/lane_polynomials.h"
#include "platform/simd_support.h"
#include "platform/spin_team.h"
#include "store/image_store.h"

// The known phasors round as the phasor loops' (no fused multiply-adds).
#ifdef __clang__
#pragma clang fp contract(off)
#endif

namespace astrelon {

namespace {

// Columns copied together into runs, one cache line of floats.
constexpr int32_t BlockColumns = 16;
// Groups of vectors whose sums are made apart (by as many threads).
constexpr size_t Groups = 8;

// Column c (< columns) of `rows` rows of `stride` values into out[c·step ..],
// four rows by four columns at a time, the rows further on asked for meanwhile
// (they lie apart in memory).
void CopyColumns(const float* src, int32_t stride, int32_t columns, int32_t rows, float* out, size_t step) {
  int32_t r = 0;
#if ASTRELON_HAVE_SSE2
  constexpr int32_t Ahead = 12;
  const int32_t whole = columns - columns % 4;
  for (; r + 4 <= rows; r += 4) {
    for (int32_t k = r + Ahead; k < std::min(r + Ahead + 4, rows); ++k) {
      __builtin_prefetch(src + size_t(k) * size_t(stride));
      __builtin_prefetch(src + size_t(k) * size_t(stride) + columns - 1);
    }
    const float* p = src + size_t(r) * size_t(stride);
    for (int32_t c = 0; c < whole; c += 4) {
      __m128 a = _mm_loadu_ps(p + c), b = _mm_loadu_ps(p + stride + c), d = _mm_loadu_ps(p + 2 * stride + c),
             e = _mm_loadu_ps(p + 3 * stride + c);
      _MM_TRANSPOSE4_PS(a, b, d, e);
      float* q = out + size_t(c) * step + size_t(r);
      _mm_storeu_ps(q, a);
      _mm_storeu_ps(q + step, b);
      _mm_storeu_ps(q + 2 * step, d);
      _mm_storeu_ps(q + 3 * step, e);
    }
    for (int32_t c = whole; c < columns; ++c)
      for (int32_t k = r; k < r + 4; ++k) out[size_t(c) * step + size_t(k)] = src[size_t(k) * size_t(stride) + size_t(c)];
  }
#endif
  for (; r < rows; ++r)
    for (int32_t c = 0; c < columns; ++c) out[size_t(c) * step + size_t(r)] = src[size_t(r) * size_t(stride) + size_t(c)];
}

}  // namespace

TSpecklePhaseWalk::TSpecklePhaseWalk(const TSpeckleAccumulators& acc, int layer, const TShiftVectors& vectors,
                                     const TSpeckleLayerNoise& noise, const TSpeckleLayerSums& sums, int32_t maxSteps,
                                     int32_t mx, int32_t my, bool kt, std::span<float> result, int threads,
                                     TSpeckleLanes lanes)
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
      half_(acc.Half()),
      mid_(acc.Height / 2),
      lanes_(lanes),
      threads_(std::max(threads, 1)) {
  for (int32_t u = 1; u <= n_; ++u) usable_[size_t(u)] = kt || u <= 3;
  if (!kt)
    for (int32_t u = 1; u <= std::min(n_, 3); ++u) phi_[size_t(u)] = std::atan2(sums.SumSin[size_t(u)], sums.SumCos[size_t(u)]);
  phi_[0] = noise.Smallest;
  const size_t values = size_t(half_) * size_t(H_);
  known_.assign(values, 0);
  for (auto* t : {&tRe_, &tIm_, &cRe_, &cIm_}) t->assign(values, 0.0f);
  // Frequencies that equal a vector not yet usable.
  vectorAt_.assign(values, 0);
  for (int32_t u = n_; u >= 4; --u) {
    const int32_t x = v_.Dx[size_t(u)], y = mid_ + v_.Dy[size_t(u)];
    if (!usable_[size_t(u)] && x >= 0 && x < half_ && y >= 0 && y < H_) vectorAt_[size_t(y) * size_t(half_) + size_t(x)] = int16_t(u);
  }
  for (int32_t u = 1; u <= n_; ++u)
    if (usable_[size_t(u)]) byVector_[size_t(u)] = StepOf(u);
  RebuildSteps();
}

TSpecklePhaseWalk::TStep TSpecklePhaseWalk::StepOf(int32_t u) const {
  return {u, v_.Dx[size_t(u)], v_.Dy[size_t(u)], acc_.X[size_t(layer_)][size_t(u)].data(),
          float(noise_.Weight[size_t(u)]), SpeckleStepConstants(phi_[size_t(u)], noise_.Weight[size_t(u)], phi_[0])};
}

void TSpecklePhaseWalk::RebuildSteps() {
  stepList_.clear();
  for (int32_t u = n_; u >= 1; --u)
    if (usable_[size_t(u)]) stepList_.push_back(byVector_[size_t(u)]);
}

void TSpecklePhaseWalk::SetPhase(int32_t x, int32_t y, double phase) {
  const size_t t = size_t(y) * size_t(half_) + size_t(x), c = size_t(x) * size_t(H_) + size_t(y);
  result_[size_t(y) * size_t(W_) + size_t(half_) + size_t(x)] = float(phase);
  known_[t] = 1;
  simd::CosSin(float(phase), tRe_[t], tIm_[t]);
  cRe_[c] = tRe_[t];
  cIm_[c] = tIm_[t];
}

bool TSpecklePhaseWalk::ColumnRows(const TSpeckleVisit& visit, const TStep& s, int32_t& gx, int32_t& y0,
                                   int32_t& y1) const {
  gx = visit.Index - s.Dx;
  y0 = std::max(visit.First, int32_t(s.Dy));
  y1 = std::min(visit.Last, H_ - 1 + s.Dy);
  return gx >= 0 && y0 <= y1;
}

TSpecklePhaseWalk::TColumnBlock TSpecklePhaseWalk::BlockFor(const TStep& s, int32_t gx, int32_t first, int32_t last,
                                                             int32_t reach) const {
  // The block serves the columns up to its last one: their rows reach at most
  // as far again beyond the middle as the columns still to come.
  TColumnBlock b;
  b.First = gx - gx % BlockColumns;
  const int32_t k = std::min(mid_, reach + (b.First + BlockColumns - 1 - gx));
  b.RowFirst = std::min(first, std::max(0, mid_ - k - s.Dy));
  b.Rows = std::max(last, std::min(H_ - 1, mid_ + k - s.Dy)) - b.RowFirst + 1;
  return b;
}

bool TSpecklePhaseWalk::Covers(int32_t u, int32_t gx, int32_t first, int32_t last) const {
  const TColumnBlock& b = blocks_[size_t(u)];
  return b.First == gx - gx % BlockColumns && first >= b.RowFirst && last < b.RowFirst + b.Rows;
}

void TSpecklePhaseWalk::CopyBlock(const TStep& s, const TColumnBlock& b) {
  blocks_[size_t(s.U)] = b;
  float* data = blockData_.get() + size_t(s.U - 1) * 2 * BlockColumns * size_t(H_);
  const int32_t columns = std::min(BlockColumns, half_ - b.First);
  for (int32_t part = 0; part < 2; ++part)
    CopyColumns(s.X + size_t(b.RowFirst) * size_t(W_) + size_t(b.First + part * half_), W_, columns, b.Rows,
                data + size_t(part * b.Rows), 2 * size_t(b.Rows));
}

bool TSpecklePhaseWalk::RunOf(const TSpeckleVisit& visit, const TStep& s, int32_t k, TRun& run) const {
  if (visit.Column) {
    int32_t gx, a, b;
    if (k > 0 || !ColumnRows(visit, s, gx, a, b)) return false;
    const TColumnBlock& block = blocks_[size_t(s.U)];
    run.Amp = blockData_.get() + size_t(s.U - 1) * 2 * BlockColumns * size_t(H_) +
              size_t(2 * (gx - block.First) * block.Rows + (a - s.Dy - block.RowFirst));
    run.Beta = run.Amp + block.Rows;
    const size_t c = size_t(gx) * size_t(H_) + size_t(a - s.Dy);
    run.TRe = cRe_.data() + c;
    run.TIm = cIm_.data() + c;
    run.Count = b - a + 1;
    run.Slot = a - visit.First;
    return true;
  }
  const int32_t columns = visit.Last + 1;
  const int32_t gy = (k == 0 ? mid_ - visit.Index : mid_ + visit.Index) - s.Dy;
  const int32_t c0 = s.Dx, c1 = visit.Last;
  if (k >= (visit.LowerRow ? 2 : 1) || gy < 0 || gy >= H_ || c0 > c1) return false;
  run.Amp = s.X + size_t(gy) * size_t(W_) + size_t(c0 - s.Dx);
  run.Beta = run.Amp + half_;
  const size_t t = size_t(gy) * size_t(half_) + size_t(c0 - s.Dx);
  run.TRe = tRe_.data() + t;
  run.TIm = tIm_.data() + t;
  run.Count = c1 - c0 + 1;
  run.Slot = k * columns + c0;
  return true;
}

void TSpecklePhaseWalk::SumGroup(const TSpeckleVisit& visit, int32_t group) {
  const size_t steps = stepList_.size(), from = steps * size_t(group) / Groups,
               to = steps * size_t(group + 1) / Groups;
  float* sumRe = groupRe_.data() + size_t(group) * size_t(slots_);
  float* sumIm = groupIm_.data() + size_t(group) * size_t(slots_);
  std::fill_n(sumRe, slots_, 0.0f);
  std::fill_n(sumIm, slots_, 0.0f);
  if (visit.Column) {
    // The blocks of the group's vectors that the column needs and that are
    // not there yet.
    const int32_t reach = mid_ - visit.First;
    for (size_t q = from; q < to; ++q) {
      const TStep& s = stepList_[q];
      int32_t gx, y0, y1;
      if (ColumnRows(visit, s, gx, y0, y1) && !Covers(s.U, gx, y0 - s.Dy, y1 - s.Dy))
        CopyBlock(s, BlockFor(s, gx, y0 - s.Dy, y1 - s.Dy, reach));
    }
  }
  std::vector<TSpecklePhasorRun>& runs = groupRuns_[size_t(group)];
  runs.clear();
  for (size_t q = from; q < to; ++q)
    for (int32_t k = 0; k < 2; ++k) {
      const TStep& s = stepList_[q];
      TRun run;
      if (!RunOf(visit, s, k, run)) continue;
      const int32_t l = liveOf_[q];
      TSpecklePhasorRun p{run.Count, run.Amp, run.Beta, run.TRe, run.TIm, sumRe + run.Slot, sumIm + run.Slot, &s.K};
      if (l >= 0) {
        // Paths inside the visit: their phasors are kept for the frequencies.
        const size_t at = size_t(l) * size_t(slots_) + size_t(run.Slot);
        p.TRe = p.TIm = nullptr;
        p.Re = liveRe_.data() + at;
        p.Im = liveIm_.data() + at;
      }
      runs.push_back(p);
    }
  SpecklePhasorRuns(lanes_, runs);
}

void TSpecklePhaseWalk::SumKnownPaths(const TSpeckleVisit& visit) {
  slots_ = visit.Count();
  live_.clear();
  fresh_.clear();
  // Which vectors have paths inside the visit: in a column those along it, in
  // a ring those along its rows or from one of its rows to the other.
  const int32_t r = visit.Index;
  liveOf_.assign(stepList_.size(), -1);
  for (size_t q = 0; q < stepList_.size(); ++q) {
    const TStep& s = stepList_[q];
    if (visit.Column ? s.Dx == 0 : (s.Dy == 0 || s.Dy == 2 * r || s.Dy == -2 * r)) {
      liveOf_[q] = int32_t(live_.size());
      live_.push_back(s);
    }
  }
  liveRe_.resize(live_.size() * size_t(slots_));
  liveIm_.resize(live_.size() * size_t(slots_));
  // The vectors in a fixed number of groups, each summed on its own, then the
  // groups in order: the same sums for any number of threads.
  groupRe_.resize(Groups * size_t(slots_));
  groupIm_.resize(Groups * size_t(slots_));
  team_->Run(Groups, [&](int64_t g) { SumGroup(visit, int32_t(g)); });
  sumRe_.assign(groupRe_.begin(), groupRe_.begin() + slots_);
  sumIm_.assign(groupIm_.begin(), groupIm_.begin() + slots_);
  for (size_t g = 1; g < Groups; ++g)
    for (size_t j = 0; j < size_t(slots_); ++j) {
      sumRe_[j] += groupRe_[g * size_t(slots_) + j];
      sumIm_[j] += groupIm_[g * size_t(slots_) + j];
    }
}

void TSpecklePhaseWalk::FindPathStep(int32_t level, int32_t fx, int32_t fy, float pRe, float pIm, float variance,
                                     TSums& sums) {
  const bool last = level >= steps_;
  for (const TStep& s : stepList_) {
    const int32_t gx = fx - s.Dx, gy = fy - s.Dy;
    if (gx < 0 || gy < 0 || gy >= H_) continue;
    const size_t t = size_t(gy) * size_t(half_) + size_t(gx);
    if (last && !known_[t]) continue;
    const float* x = s.X + size_t(gy) * size_t(W_) + size_t(gx);
    float c, sn;
    SpeckleCosSin(s.K.Phi - x[half_], c, sn);
    const float qRe = pRe * c - pIm * sn, qIm = pRe * sn + pIm * c;
    const float v = variance + s.Weight / (x[0] + s.K.Eps);
    if (!last) {
      FindPathStep(level + 1, gx, gy, qRe, qIm, v, sums);
    } else {
      const float w = v <= 1e-8f ? 1e8f : 1 / v, zRe = w * qRe, zIm = w * qIm;
      sums.Re += zRe * tRe_[t] - zIm * tIm_[t];
      sums.Im += zRe * tIm_[t] + zIm * tRe_[t];
    }
  }
}

void TSpecklePhaseWalk::ReconstructPhaseAt(int32_t x, int32_t y, int32_t j) {
  int32_t remembered = 0;
  if (x <= mx_ && std::abs(y - mid_) <= my_) {
    const int32_t u = vectorAt_[size_t(y) * size_t(half_) + size_t(x)];
    if (u >= 4 && !usable_[size_t(u)]) remembered = u;
  }
  TSums sums{sumRe_[size_t(j)], sumIm_[size_t(j)]};
  auto add = [&](float zRe, float zIm, size_t t) {
    sums.Re += zRe * tRe_[t] - zIm * tIm_[t];
    sums.Im += zRe * tIm_[t] + zIm * tRe_[t];
  };
  for (size_t l = 0; l < live_.size(); ++l) {
    const TStep& s = live_[l];
    const int32_t gx = x - s.Dx, gy = y - s.Dy;
    if (gx < 0 || gy < 0 || gy >= H_) continue;
    const size_t t = size_t(gy) * size_t(half_) + size_t(gx);
    if (known_[t]) add(liveRe_[l * size_t(slots_) + size_t(j)], liveIm_[l * size_t(slots_) + size_t(j)], t);
  }
  for (const TStep& s : fresh_) {
    const int32_t gx = x - s.Dx, gy = y - s.Dy;
    if (gx < 0 || gy < 0 || gy >= H_) continue;
    const size_t t = size_t(gy) * size_t(half_) + size_t(gx);
    if (!known_[t]) continue;
    const float* p = s.X + size_t(gy) * size_t(W_) + size_t(gx);
    float zRe, zIm;
    SpecklePhasor(p[0], p[half_], s.K, zRe, zIm);
    add(zRe, zIm, t);
  }
  for (steps_ = maxSteps_; steps_ >= 2; --steps_) FindPathStep(1, x, y, 1.0f, 0.0f, 0.0f, sums);
  const double phase = std::atan2(double(sums.Im), double(sums.Re));
  SetPhase(x, y, phase);
  if (remembered) {
    usable_[size_t(remembered)] = 1;
    phi_[size_t(remembered)] = phase;
    byVector_[size_t(remembered)] = StepOf(remembered);
    RebuildSteps();
    for (const TStep& s : stepList_)
      if (s.U == remembered) fresh_.push_back(s);
  }
  ++count_;
}

bool TSpecklePhaseWalk::Run(const std::function<void(int64_t)>& progress) {
  const int64_t every = maxSteps_ >= 2 ? 10 : 100;
  SetPhase(0, mid_, 0.0);
  bool stopped = false;
  auto after = [&] {
    if (progress && count_ % every == 0) progress(count_);
    if (AbortRequested) stopped = true;
  };
  const std::vector<TSpeckleVisit> visits = SpeckleVisits(half_, H_);
  blocks_.assign(size_t(n_) + 1, {});
  // Every value of a block is written before it is read.
  if (maxSteps_ > 0) blockData_ = std::make_unique_for_overwrite<float[]>(size_t(n_) * 2 * BlockColumns * size_t(H_));
  TSpinTeam team(maxSteps_ > 0 ? threads_ : 1);
  team_ = &team;
  for (size_t k = 0; k < visits.size(); ++k) {
    const TSpeckleVisit& visit = visits[k];
    if (maxSteps_ == 0) {
      visit.ForEach([&](int32_t x, int32_t y) {
        if (stopped) return;
        result_[size_t(y) * size_t(W_) + size_t(half_) + size_t(x)] = float(double(y - x - mid_) * std::numbers::pi);
        ++count_;
        after();
      });
    } else {
      SumKnownPaths(visit);
      // The slots: a column by row, a ring by its rows one after the other.
      const int32_t columns = visit.Last + 1;
      visit.ForEach([&](int32_t x, int32_t y) {
        if (stopped) return;
        ReconstructPhaseAt(x, y, visit.Column ? y - visit.First : x + (y > mid_ ? columns : 0));
        after();
      });
    }
    if (stopped) return false;
  }
  return true;
}

}  // namespace astrelon

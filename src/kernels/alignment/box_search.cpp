#include "kernels/alignment/box_search.h"

#include <algorithm>
#include <cmath>

#include "kernels/alignment/row_stats.h"
#include "platform/parallel_bands.h"
#include "platform/simd_support.h"
#include "store/image_slot.h"
#include "store/planes/plane_routines.h"

#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

bool FloatSumsExact(double maxAbs, double minAbs, int64_t terms) {
  if (maxAbs == 0) return true;
  if (!std::isfinite(maxAbs) || !(minAbs > 0) || terms < 1) return false;
  // Every value is a multiple of 2^q and below 2^(e + 1); a sum of `terms` of
  // them is a multiple of 2^q below 2^(e + 1 + bits), which double holds when
  // that spans at most 53 bits.
  const int e = std::ilogb(maxAbs), q = std::max(std::ilogb(minAbs) - 23, -149);
  int bits = 0;
  while ((int64_t(1) << bits) < terms) ++bits;
  return e + 1 + bits - q <= 53;
}

bool TBoxBest::Beats(const TBoxBest& other) const {
  if (!Found) return false;
  if (!other.Found || Mean > other.Mean) return true;
  return Mean == other.Mean && (Y < other.Y || (Y == other.Y && X < other.X));
}

bool BoxMean(std::span<const float> data, int64_t stride, int32_t cx, int32_t cy, int32_t r, double& mean) {
  double sum = 0;
  int64_t n = 0;
  for (int32_t y = cy - r; y <= cy + r; ++y)
    for (int32_t x = cx - r; x <= cx + r; ++x) {
      const float v = data[size_t(y * stride + x)];
      if (IsValidPixel(v)) {
        sum += v;
        ++n;
      }
    }
  if (n == 0) return false;
  mean = sum / double(n);
  return true;
}

namespace {

using lanes::D;
using simd::LoadLanes;
using simd::Splat;

// The best box of one row of centres: the largest mean and the first centre
// that has it.
struct TRowBest {
  double Mean = -lanes::Infinity;
  int32_t At = 0;
};

template <int L>
[[gnu::always_inline]] inline void RowStatsOf(const float* row, int32_t n, TRowStats& st) {
  using V = lanes::TStatLanes<L>;
  constexpr int N = simd::LaneCount<V>;
  lanes::TStatsAccumulator<V> acc;
  lanes::TStatsAccumulator<float> one;
  int32_t x = 0;
  for (; x + N <= n; x += N) acc.Add(LoadLanes<V>(row + x));
  acc.Fold(one);
  for (; x < n; ++x) one.Add(row[x]);
  st = one.Stats();
}

// The means of M neighbouring boxes whose top-left pixels are at rows[0] + i:
// each box summed pixel by pixel in row order from +0, a blank pixel adding +0
// (the sum never becomes −0, so that is the same as leaving it out), and
// divided by its number of valid pixels; −∞ without any. K: the side fixed at
// compile time, or 0 (then k).
template <int M, int K, bool Masked>
[[gnu::always_inline]] inline D<M> BoxMeans(const float* const* rows, int k, int32_t i) {
  if constexpr (K > 0) k = K;
  D<M> s = Splat<D<M>>(0.0), c = s;
  for (int j = 0; j < k; ++j)
    for (int u = 0; u < k; ++u) {
      const D<M> v = lanes::Widen<M>(rows[j] + i + u);
      if constexpr (Masked) {
        s += v > double(BlankLimit) ? v : 0.0;
        c += v > double(BlankLimit) ? 1.0 : 0.0;
      } else {
        s += v;
      }
    }
  if constexpr (Masked)
    return c > 0.0 ? s / c : Splat<D<M>>(-lanes::Infinity);
  else
    return s / double(k * k);
}

// The boxes of `centres` neighbouring centres: the largest mean and the first
// centre that has it.
template <int L, int K, bool Masked>
[[gnu::always_inline]] inline TRowBest BoxRowOf(const float* const* rows, int k, int32_t centres) {
  D<L> best = Splat<D<L>>(-lanes::Infinity), bestAt{}, at = lanes::Iota<L>();
  int32_t i = 0;
  for (; i + L <= centres; i += L, at += double(L)) {
    const D<L> v = BoxMeans<L, K, Masked>(rows, k, i);
    bestAt = v > best ? at : bestAt;
    best = simd::LaneMax(v, best);
  }
  // Lanes hold interleaved centres: the largest mean, the first centre among equals.
  TRowBest b;
  for (int l = 0; l < L; ++l) {
    const double v = lanes::Lane(best, l);
    const int32_t a = int32_t(lanes::Lane(bestAt, l));
    if (v > b.Mean || (v == b.Mean && v > -lanes::Infinity && a < b.At)) b = {v, a};
  }
  for (; i < centres; ++i) {
    const double v = BoxMeans<1, K, Masked>(rows, k, i);
    if (v > b.Mean) b = {v, i};
  }
  return b;
}

template <int L, int K>
[[gnu::always_inline]] inline TRowBest BoxRowOf(const float* const* rows, int k, int32_t centres, bool masked) {
  return masked ? BoxRowOf<L, K, true>(rows, k, centres) : BoxRowOf<L, K, false>(rows, k, centres);
}

struct TBoxKernels {
  void (*Stats)(const float*, int32_t, TRowStats&);
  TRowBest (*BoxRow)(const float* const*, int, int32_t, bool);
};

// 3 x 3 boxes (the disc search's) with the side fixed, others with any side.
#define ASTRELON_BOX_KERNELS(Name, Attr, L)                                                             \
  Attr void Stats##Name(const float* row, int32_t n, TRowStats& st) { RowStatsOf<L>(row, n, st); }     \
  Attr TRowBest BoxRow##Name(const float* const* rows, int k, int32_t centres, bool masked) {           \
    return k == 3 ? BoxRowOf<L, 3>(rows, k, centres, masked) : BoxRowOf<L, 0>(rows, k, centres, masked); \
  }
ASTRELON_DOUBLE_LANE_TIERS(ASTRELON_BOX_KERNELS)

TBoxKernels BoxKernels(bool vector) {
  return {lanes::ChooseTier(vector, ASTRELON_TIER_KERNELS(Stats)),
          lanes::ChooseTier(vector, ASTRELON_TIER_KERNELS(BoxRow))};
}

}  // namespace

TBoxSearch::TBoxSearch(std::span<const float> data, int32_t h, int64_t stride, int32_t r, int32_t from, int32_t to,
                       bool vector)
    : data_(data), h_(h), r_(r), from_(from), to_(std::max(from, to)), stride_(stride), vector_(vector) {
  rowMax_.reserve(size_t(std::max(h, 0)));
  blank_.reserve(size_t(std::max(h, 0)));
}

void TBoxSearch::AddRow(int32_t y) { AddRow(y, {}, from_ - r_, from_ - r_); }

void TBoxSearch::AddRow(int32_t y, const TRowStats& inner, int32_t innerFrom, int32_t innerTo) {
  TRowStats st = inner, side;
  const float* row = data_.data() + y * stride_;
  const TBoxKernels k = BoxKernels(vector_);
  k.Stats(row + (from_ - r_), innerFrom - (from_ - r_), side);
  st.Merge(side);
  k.Stats(row + innerTo, to_ + r_ - innerTo, side);
  st.Merge(side);
  rowMax_.push_back(st.Max);
  blank_.push_back(st.Blank);
}

TBoxBest TBoxSearch::Result() const {
  TBoxBest best;
  const int32_t side = 2 * r_ + 1;
  if (to_ <= from_ || int32_t(rowMax_.size()) != h_ || h_ < side) return best;
  // Rows of centres by the largest value of their rows, highest first (the
  // upper one among equals).
  struct TCentreRow {
    float Bound;
    int32_t Y;
  };
  std::vector<TCentreRow> order;
  order.reserve(size_t(h_ - 2 * r_));
  for (int32_t cy = r_; cy < h_ - r_; ++cy) {
    float bound = rowMax_[size_t(cy - r_)];
    for (int32_t y = cy - r_ + 1; y <= cy + r_; ++y) bound = std::max(bound, rowMax_[size_t(y)]);
    order.push_back({bound, cy});
  }
  std::sort(order.begin(), order.end(), [](const TCentreRow& a, const TCentreRow& b) {
    return a.Bound > b.Bound || (a.Bound == b.Bound && a.Y < b.Y);
  });
  const TBoxKernels k = BoxKernels(vector_);
  std::vector<const float*> rows(static_cast<size_t>(side));
  for (const TCentreRow& c : order) {
    if (!(c.Bound > -std::numeric_limits<float>::infinity())) break;
    if (best.Found) {
      // No box of this row can beat the best: a mean never exceeds the largest value.
      if (c.Bound < best.Mean) break;
      if (c.Bound == best.Mean && c.Y > best.Y) continue;
    }
    bool masked = false;
    for (int32_t j = 0; j < side; ++j) {
      const int32_t y = c.Y - r_ + j;
      rows[size_t(j)] = data_.data() + y * stride_ + (from_ - r_);
      masked = masked || blank_[size_t(y)];
    }
    const TRowBest b = k.BoxRow(rows.data(), side, to_ - from_, masked);
    if (!(b.Mean > -lanes::Infinity)) continue;
    const TBoxBest candidate{true, b.Mean, from_ + b.At, c.Y};
    if (candidate.Beats(best)) best = candidate;
  }
  return best;
}

void BestOfBands(std::span<const TBoxBest> bands, int32_t w, int32_t h, int32_t& x, int32_t& y, float& value) {
  TBoxBest winner;
  for (const TBoxBest& b : bands)
    if (b.Beats(winner)) winner = b;
  x = winner.Found ? winner.X : w / 2;
  y = winner.Found ? winner.Y : h / 2;
  value = winner.Found ? float(winner.Mean) : BlankLimit;
}

void FindBrightestBox(std::span<const float> data, int32_t w, int32_t h, int64_t stride, int32_t r, int32_t& x,
                      int32_t& y, float& value, bool vector, int threads) {
  if (w <= 0 || h <= 0 || r < 0 || int64_t(w) < 2 * int64_t(r) + 1 || int64_t(h) < 2 * int64_t(r) + 1 ||
      (w == 1 && h == 1)) {
    FindBrightestPixel(data, w, h, stride, r, x, y, value, false);
    return;
  }
  CheckRect(data.size(), w, h, stride);
  const int32_t centres = w - 2 * r;
  threads = std::clamp(threads, 1, int(centres));
  std::vector<TBoxBest> best(static_cast<size_t>(threads));
  ForEachBand(threads, threads, [&](int64_t band, int64_t) {
    const int32_t from = r + int32_t(centres * band / threads), to = r + int32_t(centres * (band + 1) / threads);
    TBoxSearch search(data, h, stride, r, from, to, vector);
    for (int32_t row = 0; row < h; ++row) search.AddRow(row);
    best[size_t(band)] = search.Result();
  });
  BestOfBands(best, w, h, x, y, value);
}

}  // namespace astrelon

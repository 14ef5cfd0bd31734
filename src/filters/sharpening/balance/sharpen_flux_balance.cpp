#include "filters/sharpening/balance/sharpen_flux_balance.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>

#include "filters/sharpening/balance/balance_region_blur.h"
#include "filters/sharpening/balance/each_item.h"
#include "filters/sharpening/balance/local_background.h"
#include "kernels/gauss/filter_rows.h"
#include "platform/simd_support.h"

// The vector helpers are always inlined, so the calling convention of 32-byte
// vectors outside AVX code never applies.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

TRegion RegionOf(std::vector<float>& v, int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
  const size_t size = size_t(x1 - x0 + 1) * size_t(y1 - y0 + 1);
  if (v.size() < size) v.resize(size);
  return {v.data(), x0, y0, x1 - x0 + 1};
}

// The change withheld per unit of the heights around, for n pixels of a row,
// V lanes at a time: the rate taken / asked (within 0..1, 0 where nothing was
// asked), then (rate·wanted - made) / sums where sums exceed `least`.
template <class V>
[[gnu::always_inline]] inline void WithheldT(const float* taken, const float* asked, const float* sums,
                                             const float* wanted, const float* made, float* out, int32_t n,
                                             float least) {
  using namespace simd;
  auto at = [&](auto lanes, int32_t i) __attribute__((always_inline)) {
    using U = decltype(lanes);
    const U zero = Splat<U>(0.0f), a = LoadLanes<U>(asked + i), sum = LoadLanes<U>(sums + i);
    const U rate = a > zero ? LaneMin(LaneMax(LoadLanes<U>(taken + i) / a, zero), Splat<U>(1.0f)) : zero;
    const U w = (rate * LoadLanes<U>(wanted + i) - LoadLanes<U>(made + i)) / sum;
    StoreLanes(out + i, sum > Splat<U>(least) ? w : zero);
  };
  int32_t i = 0;
  for (; i + LaneCount<V> <= n; i += LaneCount<V>) at(V{}, i);
  for (; i < n; ++i) at(0.0f, i);
}

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 void WithheldAvx2(const float* taken, const float* asked, const float* sums, const float* wanted,
                                const float* made, float* out, int32_t n, float least) {
  WithheldT<simd::TVec8f>(taken, asked, sums, wanted, made, out, n, least);
}
#endif

void Withheld(const float* taken, const float* asked, const float* sums, const float* wanted, const float* made,
              float* out, int32_t n, float least, bool vector) {
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) return WithheldAvx2(taken, asked, sums, wanted, made, out, n, least);
#endif
  if (vector) return WithheldT<simd::TVec4f>(taken, asked, sums, wanted, made, out, n, least);
  WithheldT<float>(taken, asked, sums, wanted, made, out, n, least);
}

// The room a pixel of height h above its reference r offers the give-back once
// the application changed it by m: down to its value before the application
// where that lay below hi, else down to hi; never below r. The value before
// is taken as r + h, since other boxes may be writing the destination.
float RoomAboveFloor(float h, float r, float m, float hi) {
  const float before = r + h;
  const float room = before < hi ? m : before + m - hi;
  return std::max(std::min(room, h + m), 0.0f);
}

}  // namespace

TFluxBalance::TFluxBalance(const TWorkRect& rect)
    : rect_(rect),
      columns_(std::max(rect.x2 - rect.x1 + 1, 0)),
      rows_(std::max(rect.y2 - rect.y1 + 1, 0)),
      blocks_((columns_ + BalanceBlock - 1) / BalanceBlock) {
  const size_t tiles = size_t((rows_ + BalanceBlock - 1) / BalanceBlock) * size_t(blocks_);
  for (TPlane* v : {&height_, &wanted_, &made_}) v->assign(tiles * size_t(BalanceBlock * BalanceBlock), 0.0f);
  active_.assign(size_t(rows_) * size_t(blocks_), 0);
  needed_.assign(active_.size(), 0);
  extent_.assign(active_.size(), 0);
}

void TFluxBalance::Prepare(int plane, std::span<const float> source, int32_t w, int32_t h, float radius, float lo,
                           float delta, float noise, bool vector, std::span<const float> given) {
  TPlaneReference& p = planes_[size_t(plane)];
  p.Narrow = BlurTaps(radius);
  p.Wide = BlurTaps(2 * radius);
  p.Lo = lo;
  p.Delta = delta;
  p.Noise = noise;
  p.Reference.assign(size_t(columns_) * size_t(rows_), lo);
  p.Raised.assign(active_.size(), 0);
  if (height_.empty()) return;
  // The changes' arrays serve as work space (the application fills them anew).
  const size_t pixels = size_t(columns_) * size_t(rows_);
  if (given.size() < pixels && !BalanceBackground(source, w, h, rect_, radius, vector, wanted_, made_)) return;
  const std::span<const float> background = given.size() >= pixels ? given : std::span<const float>(made_);
  EachItem(rows_, columns_, [&](int64_t y) {
    for (int32_t x = 0; x < columns_; ++x) {
      const size_t i = size_t(y) * size_t(columns_) + size_t(x);
      const float v = background[i];
      const float r = IsValidPixel(v) ? std::max(lo, v - noise) : lo;
      p.Reference[i] = r;
      if (r > lo) p.Raised[size_t(y) * size_t(blocks_) + size_t(x / BalanceBlock)] = 1;
    }
  });
}

TBalanceRows TFluxBalance::Rows(int plane) {
  const TPlaneReference& p = planes_[size_t(plane)];
  return {height_.data(), active_.data(), extent_.data(), p.Reference.data(), p.Raised.data(), needed_.data(),
          wanted_.data(), made_.data(),   columns_,       blocks_,            p.Lo,            p.Delta};
}

void TFluxBalance::Mark(int plane) {
  boxes_.clear();
  if (height_.empty()) return;
  // The bounding box of the marked pixels of each tile.
  const int32_t tileRows = (rows_ + BalanceBlock - 1) / BalanceBlock;
  std::vector<TSpan> found(size_t(tileRows) * size_t(blocks_), TSpan{0, -1, 0, -1});
  EachItem(tileRows, int64_t(BalanceBlock) * blocks_, [&](int64_t ty) {
    const int32_t y0 = int32_t(ty) * BalanceBlock, y1 = std::min(y0 + BalanceBlock, rows_);
    for (int32_t k = 0; k < blocks_; ++k) {
      TSpan b{INT_MAX, -1, INT_MAX, -1};
      for (int32_t y = y0; y < y1; ++y) {
        const size_t cell = size_t(y) * size_t(blocks_) + size_t(k);
        if (!active_[cell]) continue;
        const int32_t x = k * BalanceBlock;
        b = {std::min(b.X0, x + (extent_[cell] & 255)), std::max(b.X1, x + (extent_[cell] >> 8)), std::min(b.Y0, y),
             std::max(b.Y1, y)};
      }
      if (b.X1 >= 0) found[size_t(ty) * size_t(blocks_) + size_t(k)] = b;
    }
  });
  const TPlaneReference& p = planes_[size_t(plane)];
  const int32_t narrow = p.Narrow.N, margin = std::max(narrow, p.Wide.N);
  const int32_t reachTiles = (narrow + margin + BalanceBlock - 1) / BalanceBlock;
  auto widened = [&](const TSpan& s, int32_t by) {
    return TSpan{std::max(0, s.X0 - by), std::min(columns_ - 1, s.X1 + by), std::max(0, s.Y0 - by),
                 std::min(rows_ - 1, s.Y1 + by)};
  };
  std::vector<size_t> firstOfTileRow(size_t(tileRows) + 1, 0);
  // A box of the tiles tx0..tx1 of tile row ty; A: B and the marked pixels of
  // the tiles around that lie within P.
  auto add = [&](const TSpan& b, int32_t ty, int32_t tx0, int32_t tx1) {
    TBox box{b, widened(b, narrow), widened(b, narrow + margin), b};
    for (int32_t j = std::max(0, ty - reachTiles); j <= std::min(tileRows - 1, ty + reachTiles); ++j)
      for (int32_t i = std::max(0, tx0 - reachTiles); i <= std::min(blocks_ - 1, tx1 + reachTiles); ++i) {
        const TSpan& o = found[size_t(j) * size_t(blocks_) + size_t(i)];
        const TSpan& P = box.P;
        if (o.X1 < o.X0 || o.X1 < P.X0 || o.X0 > P.X1 || o.Y1 < P.Y0 || o.Y0 > P.Y1) continue;
        box.A = {std::min(box.A.X0, std::max(o.X0, P.X0)), std::max(box.A.X1, std::min(o.X1, P.X1)),
                 std::min(box.A.Y0, std::max(o.Y0, P.Y0)), std::max(box.A.Y1, std::min(o.Y1, P.Y1))};
      }
    boxes_.push_back(box);
  };
  for (int32_t ty = 0; ty < tileRows; ++ty) {
    firstOfTileRow[size_t(ty)] = boxes_.size();
    // A star cut by the border of two tiles of the row makes one box.
    TSpan open{0, -1, 0, -1};
    int32_t openFrom = 0;
    for (int32_t tx = 0; tx < blocks_; ++tx) {
      const TSpan& b = found[size_t(ty) * size_t(blocks_) + size_t(tx)];
      if (b.X1 < b.X0) continue;
      const int32_t border = tx * BalanceBlock;
      if (open.X1 == border - 1 && b.X0 == border && b.Y0 <= open.Y1 + 1 && b.Y1 + 1 >= open.Y0) {
        open = {open.X0, b.X1, std::min(open.Y0, b.Y0), std::max(open.Y1, b.Y1)};
        continue;
      }
      if (open.X1 >= open.X0) add(open, ty, openFrom, open.X1 / BalanceBlock);
      open = b;
      openFrom = tx;
    }
    if (open.X1 >= open.X0) add(open, ty, openFrom, open.X1 / BalanceBlock);
  }
  firstOfTileRow[size_t(tileRows)] = boxes_.size();
  // The blocks each row's application records: those of the boxes' Q and A.
  EachItem(rows_, blocks_, [&](int64_t y) {
    uint8_t* row = needed_.data() + size_t(y) * size_t(blocks_);
    std::fill(row, row + blocks_, uint8_t(0));
    const int32_t ty = int32_t(y) / BalanceBlock;
    const size_t from = firstOfTileRow[size_t(std::max(0, ty - reachTiles))];
    const size_t to = firstOfTileRow[size_t(std::min(tileRows, ty + reachTiles + 1))];
    for (size_t i = from; i < to; ++i)
      for (const TSpan* s : {&boxes_[i].Q, &boxes_[i].A})
        if (y >= s->Y0 && y <= s->Y1) std::fill(row + s->X0 / BalanceBlock, row + s->X1 / BalanceBlock + 1, uint8_t(1));
  });
}

float TFluxBalance::FloorOf(const TPlaneReference& p, const TGiveBackGuard& guard, int32_t y, int32_t x) const {
  const int64_t i = int64_t(y) * columns_ + x;
  const float hi = guard.HiAt ? guard.HiAt[i] : guard.Hi;
  const float r = p.Reference[size_t(i)];
  return r > p.Lo ? std::max(hi, r + 2 * p.Noise) : hi;
}

void TFluxBalance::BalanceBox(const TPlaneReference& p, const TBox& box, TScratch& s, float* destination,
                              int32_t width, const TGiveBackGuard& guard, float least, bool vector) const {
  const TBlurTaps &narrow = p.Narrow, &wide = p.Wide;
  const TSpan &B = box.B, &Q = box.Q, &P = box.P, &A = box.A;
  // The blocks' columns of [x0, x1] in row y of a tiled array into out[x0 .. x1].
  auto gather = [&](const TPlane& v, int64_t y, int32_t x0, int32_t x1, float* out) {
    for (int32_t x = x0; x <= x1;) {
      const int32_t end = std::min(x1, (x / BalanceBlock + 1) * BalanceBlock - 1);
      const float* from = v.data() + BalanceIndex(blocks_, y, x);
      std::copy(from, from + (end - x + 1), out + x);
      x = end + 1;
    }
  };
  // The changes on Q and A (L and M; stale values in the blocks not recorded
  // are never used).
  const TSpan C{std::min(Q.X0, A.X0), std::max(Q.X1, A.X1), std::min(Q.Y0, A.Y0), std::max(Q.Y1, A.Y1)};
  const TRegion wanted = RegionOf(s.Wanted, C.X0, C.X1, C.Y0, C.Y1), made = RegionOf(s.Made, C.X0, C.X1, C.Y0, C.Y1);
  for (int32_t y = C.Y0; y <= C.Y1; ++y) {
    gather(wanted_, y, C.X0, C.X1, wanted.Row(y));
    gather(made_, y, C.X0, C.X1, made.Row(y));
  }
  // On A's columns of P: the heights and the rates' terms h·|M| and h·|L| (0
  // outside the marked blocks and A's rows).
  const TRegion heights = RegionOf(s.Heights, A.X0, A.X1, P.Y0, P.Y1);
  const TRegion takenRate = RegionOf(s.TakenRate, A.X0, A.X1, P.Y0, P.Y1);
  const TRegion askedRate = RegionOf(s.AskedRate, A.X0, A.X1, P.Y0, P.Y1);
  for (int32_t y = P.Y0; y <= P.Y1; ++y) {
    float* h = heights.Row(y);
    float* taken = takenRate.Row(y);
    float* asked = askedRate.Row(y);
    std::fill(h + A.X0, h + A.X1 + 1, 0.0f);
    if (y < A.Y0 || y > A.Y1) {
      std::fill(taken + A.X0, taken + A.X1 + 1, 0.0f);
      std::fill(asked + A.X0, asked + A.X1 + 1, 0.0f);
      continue;
    }
    for (int32_t k = A.X0 / BalanceBlock; k <= A.X1 / BalanceBlock; ++k) {
      if (!active_[size_t(y) * size_t(blocks_) + size_t(k)]) continue;
      const int32_t x0 = std::max(A.X0, k * BalanceBlock), x1 = std::min(A.X1, k * BalanceBlock + BalanceBlock - 1);
      gather(height_, y, x0, x1, h);
    }
    const float* m = made.Row(y);
    const float* l = wanted.Row(y);
    for (int32_t x = A.X0; x <= A.X1; ++x) {
      taken[x] = h[x] > 0 ? h[x] * std::fabs(m[x]) : 0.0f;
      asked[x] = h[x] > 0 ? h[x] * std::fabs(l[x]) : 0.0f;
    }
    // With the floor at hi the weights of the give-back are the pixels' room
    // above their floors; a kept pixel weighs its height, as without it.
    if (guard.FloorAtHi) {
      const float* r = p.Reference.data() + size_t(y) * size_t(columns_);
      const float* source = guard.Source ? guard.Source + (int64_t(rect_.y1) + y) * width + rect_.x1 : nullptr;
      for (int32_t x = A.X0; x <= A.X1; ++x)
        if (h[x] > 0 && !(source && source[x] > guard.KeepAbove))
          h[x] = RoomAboveFloor(h[x], r[x], m[x], FloorOf(p, guard, y, x));
    }
  }
  // The column passes onto Q's rows over A's columns (0 in P's other
  // columns), then the row passes onto Q.
  const TRegion cols = RegionOf(s.Columns, P.X0, P.X1, Q.Y0, Q.Y1);
  const TRegion taken = RegionOf(s.Taken, Q.X0, Q.X1, Q.Y0, Q.Y1), asked = RegionOf(s.Asked, Q.X0, Q.X1, Q.Y0, Q.Y1);
  const TRegion sums = RegionOf(s.Sums, Q.X0, Q.X1, Q.Y0, Q.Y1);
  for (int32_t y = Q.Y0; y <= Q.Y1; ++y) std::fill(cols.Row(y) + P.X0, cols.Row(y) + P.X1 + 1, 0.0f);
  BlurColumns(takenRate, cols, Q.Y0, Q.Y1, A.X0, A.X1, rows_, wide, vector);
  BlurRows(cols, taken, Q.Y0, Q.Y1, Q.X0, Q.X1, columns_, wide, vector);
  BlurColumns(askedRate, cols, Q.Y0, Q.Y1, A.X0, A.X1, rows_, wide, vector);
  BlurRows(cols, asked, Q.Y0, Q.Y1, Q.X0, Q.X1, columns_, wide, vector);
  BlurColumns(heights, cols, Q.Y0, Q.Y1, A.X0, A.X1, rows_, narrow, vector);
  BlurRows(cols, sums, Q.Y0, Q.Y1, Q.X0, Q.X1, columns_, narrow, vector);
  // The change withheld per unit of the heights around, then its blur onto B.
  const TRegion withheld = RegionOf(s.Withheld, Q.X0, Q.X1, Q.Y0, Q.Y1);
  for (int32_t y = Q.Y0; y <= Q.Y1; ++y)
    Withheld(taken.Row(y) + Q.X0, asked.Row(y) + Q.X0, sums.Row(y) + Q.X0, wanted.Row(y) + Q.X0,
             made.Row(y) + Q.X0, withheld.Row(y) + Q.X0, Q.Width(), least, vector);
  const TRegion bcols = RegionOf(s.Columns, Q.X0, Q.X1, B.Y0, B.Y1), given = RegionOf(s.Given, B.X0, B.X1, B.Y0, B.Y1);
  BlurColumns(withheld, bcols, B.Y0, B.Y1, Q.X0, Q.X1, rows_, narrow, vector);
  BlurRows(bcols, given, B.Y0, B.Y1, B.X0, B.X1, columns_, narrow, vector);
  // The light given back to B's pixels with a weight: not below the reference,
  // nor below a value already below it, nor at all where the sharpening never
  // darkens (with TakeBackRise: not below the value before the application),
  // nor below the floors of FloorAtHi; and not above the bound.
  for (int32_t y = B.Y0; y <= B.Y1; ++y) {
    const float* h = heights.Row(y);
    const float* g = given.Row(y);
    const float* m = made.Row(y);
    const float* r = p.Reference.data() + size_t(y) * size_t(columns_);
    const int64_t row = int64_t(rect_.y1 + y) * width + rect_.x1;
    const float* bound = guard.Bound ? guard.Bound + int64_t(y) * columns_ : nullptr;
    for (int32_t x = B.X0; x <= B.X1; ++x) {
      if (!(h[x] > 0)) continue;
      float& d = destination[row + x];
      const float before = d - m[x];
      const bool kept = (guard.Source && guard.Source[row + x] > guard.KeepAbove);
      float floor = std::min(d, r[x]);
      if (kept) floor = guard.TakeBackRise ? std::min(d, before) : d;
      const float hi = FloorOf(p, guard, y, x);
      if (guard.FloorAtHi) floor = std::max(floor, std::min(d, kept || before < hi ? before : hi));
      const float given = std::max(d + h[x] * g[x], floor);
      d = bound ? std::min(given, std::max(d, bound[x])) : given;
    }
  }
}

void TFluxBalance::GiveBack(int plane, float* destination, int32_t width, const TGiveBackGuard& guard, float least,
                            bool vector) {
  const TPlaneReference& p = planes_[size_t(plane)];
  int64_t pixels = 0;
  for (const TBox& b : boxes_) pixels += int64_t(b.P.Size());
  // The boxes go to the threads one by one as they come free; each gives the
  // values of its own pixels alone.
  std::atomic<size_t> next{0};
  const int threads = FilterThreads(pixels);
  if (scratch_.size() < size_t(threads)) scratch_.resize(size_t(threads));
  ForEachBand(threads, threads, [&](int64_t band, int64_t) {
    TScratch& s = scratch_[size_t(band)];
    for (size_t i = next++; i < boxes_.size(); i = next++)
      BalanceBox(p, boxes_[i], s, destination, width, guard, least, vector);
  });
}

}  // namespace astrelon

#include "filters/sharpening/soft_erosion.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <utility>

#include "kernels/gauss/filter_rows.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "platform/vector_lanes.h"

// The vector helpers are always inlined, so the calling convention of
// eight-wide vectors outside AVX code never applies.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

constexpr float Inf = std::numeric_limits<float>::infinity();

// Running minima pay off only for small reaches (their memory grows with the
// reach squared).
constexpr int32_t MaxMinimaReach = 12;
// Width of the column strips an output band is worked in.
constexpr int32_t StripColumns = 1024;

// The smaller of two values as the processor's minimum instruction takes it
// (the second when they are equal), so that every path picks the same one.
inline float MinPs(float a, float b) { return a < b ? a : b; }

// GCC vector extensions: SSE2 code by default, AVX2 code when inlined into a
// function compiled for it.
using namespace simd;
using TVec4 = TVec4f;
using TVec8 = TVec8f;


// v with lane k taken from lane k ^ M (a constant permutation, which GCC and
// clang both take).
template <int M, class V, int... K>
[[gnu::always_inline]] inline V XorLanes(V v, std::integer_sequence<int, K...>) {
  return __builtin_shufflevector(v, v, (K ^ M)...);
}

// The smallest and the largest lane as std::min and std::max over the lanes in
// order find them: in a tree of shuffles when no lane is NaN (the extremes of
// numbers do not depend on the order; a zero's sign changes no use of them),
// else lane by lane.
template <class V>
[[gnu::always_inline]] inline void LaneRange(V v, float& lo, float& hi) {
  constexpr int n = LaneCount<V>;
  using TMask = decltype(v == v);
  const TMask number = v == v;
  uint64_t words[sizeof(TMask) / 8];
  std::memcpy(words, &number, sizeof number);
  uint64_t all = ~uint64_t(0);
  for (uint64_t w : words) all &= w;
  if (all == ~uint64_t(0)) {
    constexpr auto lanes = std::make_integer_sequence<int, n>{};
    V a = v, b = v;
    if constexpr (n == 8) {
      a = LaneMin(a, XorLanes<4>(a, lanes));
      b = LaneMax(b, XorLanes<4>(b, lanes));
    }
    if constexpr (n >= 4) {
      a = LaneMin(a, XorLanes<2>(a, lanes));
      b = LaneMax(b, XorLanes<2>(b, lanes));
      a = LaneMin(a, XorLanes<1>(a, lanes));
      b = LaneMax(b, XorLanes<1>(b, lanes));
    }
    lo = a[0];
    hi = b[0];
    return;
  }
  lo = hi = v[0];
  for (int k = 1; k < n; ++k) {
    lo = std::min(lo, v[k]);
    hi = std::max(hi, v[k]);
  }
}

// The smallest of the values at p[k] + x, k < count, in four independent chains
// (a minimum is exact, so the order does not matter).
template <class V>
[[gnu::always_inline]] inline V MinOfLoads(const float* const* p, size_t count, int32_t x) {
  const V inf = Splat<V>(std::numeric_limits<float>::infinity());
  V a = inf, b = inf, c = inf, d = inf;
  size_t k = 0;
  for (; k + 4 <= count; k += 4) {
    a = LaneMin(a, LoadLanes<V>(p[k] + x));
    b = LaneMin(b, LoadLanes<V>(p[k + 1] + x));
    c = LaneMin(c, LoadLanes<V>(p[k + 2] + x));
    d = LaneMin(d, LoadLanes<V>(p[k + 3] + x));
  }
  for (; k < count; ++k) a = LaneMin(a, LoadLanes<V>(p[k] + x));
  return LaneMin(LaneMin(a, b), LaneMin(c, d));
}

// The same for two vectors side by side (x and x + lanes).
template <class V>
[[gnu::always_inline]] inline void MinOfLoads2(const float* const* p, size_t count, int32_t x, V& lo, V& hi) {
  constexpr int n = LaneCount<V>;
  const V inf = Splat<V>(std::numeric_limits<float>::infinity());
  V a = inf, b = inf, c = inf, d = inf;
  size_t k = 0;
  for (; k + 2 <= count; k += 2) {
    const float* p0 = p[k] + x;
    const float* p1 = p[k + 1] + x;
    a = LaneMin(a, LoadLanes<V>(p0));
    b = LaneMin(b, LoadLanes<V>(p0 + n));
    c = LaneMin(c, LoadLanes<V>(p1));
    d = LaneMin(d, LoadLanes<V>(p1 + n));
  }
  if (k < count) {
    a = LaneMin(a, LoadLanes<V>(p[k] + x));
    b = LaneMin(b, LoadLanes<V>(p[k] + x + n));
  }
  lo = LaneMin(a, c);
  hi = LaneMin(b, d);
}

// The rows of the rectangle one band of output rows needs, with blanks as +inf
// and padded with +inf by Reach columns on both sides, so that offsets never
// leave a row; rows outside the rectangle read as +inf. With running minima,
// level k of a row holds at x the minimum of x-k..x+k. Kept in a ring of
// 2 ReachV + 1 rows, built when first asked for.
class TRowCache {
public:
  // Columns first .. first + count - 1 of the rectangle.
  TRowCache(const TErosionPlane& plane, const TErosionTable& tab, bool minima, int32_t first, int32_t count)
      : plane_(plane),
        first_(first),
        cols_(count),
        rows_(plane.Rect.y2 - plane.Rect.y1 + 1),
        pad_(tab.Reach),
        stride_(int64_t(cols_) + 2 * int64_t(tab.Reach)),
        levels_(minima ? tab.Reach : 0),
        ring_(size_t(2 * tab.ReachV + 1)),
        inf_(size_t(stride_), Inf) {}

  int64_t Stride() const { return stride_; }
  int32_t Pad() const { return pad_; }

  const float* Row(int64_t r) {
    if (r < 0 || r >= rows_) return inf_.data();
    TEntry& e = Entry(r);
    return e.Data.data();
  }

  // Level k >= 1 of row r.
  template <class V>
  [[gnu::always_inline]] inline const float* Level(int64_t r, int32_t k) {
    if (r < 0 || r >= rows_) return inf_.data();
    TEntry& e = Entry(r);
    while (e.Levels < k) {
      const int32_t m = e.Levels + 1;
      const float* in = e.Data.data() + size_t(m - 1) * size_t(stride_);
      float* out = e.Data.data() + size_t(m) * size_t(stride_);
      // Level 1 from the row (three values), level m + 1 from level m (its two neighbours).
      const int64_t lo = m, hi = stride_ - m;
      int64_t x = lo;
      constexpr int n = LaneCount<V>;
      if (m == 1) {
        for (; x + n <= hi; x += n)
          StoreLanes(out + x, LaneMin(LaneMin(LoadLanes<V>(in + x - 1), LoadLanes<V>(in + x)), LoadLanes<V>(in + x + 1)));
        for (; x < hi; ++x) out[x] = MinPs(MinPs(in[x - 1], in[x]), in[x + 1]);
      } else {
        for (; x + n <= hi; x += n) StoreLanes(out + x, LaneMin(LoadLanes<V>(in + x - 1), LoadLanes<V>(in + x + 1)));
        for (; x < hi; ++x) out[x] = MinPs(in[x - 1], in[x + 1]);
      }
      e.Levels = m;
    }
    return e.Data.data() + size_t(k) * size_t(stride_);
  }

private:
  struct TEntry {
    int64_t Row = -1;
    int32_t Levels = 0;
    std::vector<float> Data;  // the padded row, then its levels 1..
  };

  TEntry& Entry(int64_t r) {
    TEntry& e = ring_[size_t(r) % ring_.size()];
    if (e.Row == r) return e;
    e.Row = r;
    e.Levels = 0;
    if (e.Data.empty()) e.Data.resize(size_t(levels_ + 1) * size_t(stride_));
    float* out = e.Data.data();
    const int64_t y = plane_.Rect.y1 + r;
    const float* in = plane_.Source.data() + y * int64_t(plane_.Width) + plane_.Rect.x1 + first_;
    // The padding holds the neighbouring columns of the rectangle (+inf beyond it).
    const int32_t left = std::min(pad_, first_);
    const int32_t right = std::min<int32_t>(pad_, plane_.Rect.x2 - plane_.Rect.x1 + 1 - first_ - cols_);
    std::fill(out, out + pad_ - left, Inf);
    for (int32_t x = -left; x < 0; ++x) out[pad_ + x] = IsValidPixel(in[x]) ? in[x] : Inf;
    int32_t x = 0;
    const TVec4 blank = Splat<TVec4>(BlankLimit), inf = Splat<TVec4>(Inf);
    for (; x + 4 <= cols_; x += 4) {
      const TVec4 v = LoadLanes<TVec4>(in + x);
      StoreLanes(out + pad_ + x, v > blank ? v : inf);
    }
    for (; x < cols_ + right; ++x) out[pad_ + x] = IsValidPixel(in[x]) ? in[x] : Inf;
    std::fill(out + pad_ + cols_ + right, out + stride_, Inf);
    return e;
  }

  const TErosionPlane& plane_;
  int32_t first_, cols_, rows_, pad_;
  int64_t stride_;
  int32_t levels_;
  std::vector<TEntry> ring_;
  std::vector<float> inf_;
};

// One output row: the padded rows around it and, per offset, where its values
// start (the row of its dy moved by its dx).
struct TRowJob {
  const TErosionTable* Table = nullptr;
  std::vector<const float*> Rows;    // per dy + ReachV
  std::vector<const float*> Offset;  // per offset
  std::vector<const float*> Disc;    // work list of the vector paths
  const float* Src = nullptr;        // source row at the rectangle's left edge
  const float* Radius = nullptr;     // t per pixel, or null for UniformRadius
  float UniformRadius = 0;
  float* Dst = nullptr;
  int32_t Count = 0;
  int32_t Pad = 0;
  float Lift = 0;
};

// Number of leading rings that are full (t - d >= 1) for a radius t.
int32_t FullRings(const TErosionTable& tab, float t) {
  int32_t k = 0;
  while (k < int32_t(tab.Rings.size()) && t - tab.Rings[size_t(k)].Distance >= 1.0f) ++k;
  return k;
}

// ---- scalar path ----

float ErodePixel(const TRowJob& j, int32_t x, float c, float t) {
  if (!(t > 0)) return c;
  const TErosionTable& tab = *j.Table;
  float e = c;
  for (const TErosionTable::TRing& ring : tab.Rings) {
    if (!(t > ring.Distance)) break;
    const float w = t - ring.Distance;
    float v = Inf;
    for (int32_t k = ring.First; k < ring.First + ring.Count; ++k) v = MinPs(v, j.Offset[size_t(k)][x]);
    if (v < e) e = w >= 1.0f ? v : MinPs(e, c + (v - c) * w);
  }
  e += j.Lift;
  return e < c ? e : c;
}

void ErodeRowScalar(const TRowJob& j, int32_t from) {
  for (int32_t x = from; x < j.Count; ++x)
    if (IsValidPixel(j.Src[x])) j.Dst[x] = ErodePixel(j, x, j.Src[x], j.Radius ? j.Radius[x] : j.UniformRadius);
}

// ---- vector path ----

template <class V>
[[gnu::always_inline]] inline void ErodeRowVector(TRowJob& j, TRowCache* cache, int64_t row) {
  constexpr int n = LaneCount<V>;
  const TErosionTable& tab = *j.Table;
  const V blank = Splat<V>(BlankLimit), one = Splat<V>(1.0f), lift = Splat<V>(j.Lift);
  const int32_t rv = tab.ReachV;
  // Where the disc of the leading full rings reads its row minima; rebuilt when
  // the number of full rings changes.
  int32_t discRings = -1;
  std::vector<const float*>& disc = j.Disc;
  bool discByMinima = false;
  float lastMin = std::numeric_limits<float>::quiet_NaN();
  int32_t full = 0;
  int32_t x = 0;
  for (; x + n <= j.Count; x += n) {
    const V c = LoadLanes<V>(j.Src + x);
    V tv;
    float tmin, tmax;
    if (j.Radius) {
      tv = LoadLanes<V>(j.Radius + x);
      LaneRange(tv, tmin, tmax);
    } else {
      tv = Splat<V>(j.UniformRadius);
      tmin = tmax = j.UniformRadius;
    }
    const auto valid = c > blank;
    if (!(tmax > 1.0f)) {
      // No ring beyond the pixel itself: every result is c.
      StoreLanes(j.Dst + x, valid ? c : LoadLanes<V>(j.Dst + x));
      continue;
    }
    if (!(tmin == lastMin)) {
      lastMin = tmin;
      full = FullRings(tab, tmin);
    }
    V e = c;
    if (full > 0) {
      if (full != discRings) {
        discRings = full;
        discByMinima = cache && tab.DiscCount[size_t(full)] >= 3 * tab.DiscRows[size_t(full)];
        disc.clear();
        if (discByMinima) {
          const std::vector<int32_t>& hw = tab.HalfWidth[size_t(full)];
          for (int32_t dy = -rv; dy <= rv; ++dy) {
            const int32_t k = hw[size_t(dy + rv)];
            if (k < 0) continue;
            const float* level = k == 0 ? j.Rows[size_t(dy + rv)] : cache->Level<V>(row + dy, k);
            disc.push_back(level + j.Pad);
          }
        } else {
          const TErosionTable::TRing& last = tab.Rings[size_t(full - 1)];
          disc.assign(j.Offset.begin(), j.Offset.begin() + (last.First + last.Count));
        }
      }
      e = LaneMin(e, MinOfLoads<V>(disc.data(), disc.size(), x));
    }
    for (size_t g = size_t(full); g < tab.Rings.size(); ++g) {
      const TErosionTable::TRing& ring = tab.Rings[g];
      if (!(tmax > ring.Distance)) break;
      const V v = MinOfLoads<V>(j.Offset.data() + ring.First, size_t(ring.Count), x);
      const V d = Splat<V>(ring.Distance);
      const V w = tv - d;
      const V part = LaneMin(e, c + (v - c) * w);
      const V next = w >= one ? v : part;
      e = ((tv > d) & (v < e)) ? next : e;
    }
    e = e + lift;
    const V r = e < c ? e : c;
    StoreLanes(j.Dst + x, valid ? r : LoadLanes<V>(j.Dst + x));
  }
  ErodeRowScalar(j, x);
}

// A row whose pixels all have the same radius: the rings and their weights are
// the same for every pixel, and two vectors go side by side.
template <class V>
[[gnu::always_inline]] inline void ErodeRowUniform(TRowJob& j, TRowCache* cache, int64_t row) {
  constexpr int n = LaneCount<V>;
  const TErosionTable& tab = *j.Table;
  const float t = j.UniformRadius;
  const V blank = Splat<V>(BlankLimit), lift = Splat<V>(j.Lift);
  int32_t x = 0;
  if (!(t > 1.0f)) {
    // No ring beyond the pixel itself: every result is c.
    for (; x + n <= j.Count; x += n) {
      const V c = LoadLanes<V>(j.Src + x);
      StoreLanes(j.Dst + x, c > blank ? c : LoadLanes<V>(j.Dst + x));
    }
    ErodeRowScalar(j, x);
    return;
  }
  const int32_t full = FullRings(tab, t);
  const int32_t rv = tab.ReachV;
  std::vector<const float*>& disc = j.Disc;
  disc.clear();
  if (cache && tab.DiscCount[size_t(full)] >= 3 * tab.DiscRows[size_t(full)]) {
    const std::vector<int32_t>& hw = tab.HalfWidth[size_t(full)];
    for (int32_t dy = -rv; dy <= rv; ++dy) {
      const int32_t k = hw[size_t(dy + rv)];
      if (k >= 0) disc.push_back((k == 0 ? j.Rows[size_t(dy + rv)] : cache->Level<V>(row + dy, k)) + j.Pad);
    }
  } else if (full > 0) {
    const TErosionTable::TRing& last = tab.Rings[size_t(full - 1)];
    disc.assign(j.Offset.begin(), j.Offset.begin() + (last.First + last.Count));
  }
  size_t end = size_t(full);
  while (end < tab.Rings.size() && t > tab.Rings[end].Distance) ++end;
  for (; x + 2 * n <= j.Count; x += 2 * n) {
    const V c0 = LoadLanes<V>(j.Src + x), c1 = LoadLanes<V>(j.Src + x + n);
    V e0 = c0, e1 = c1;
    if (!disc.empty()) {
      V m0, m1;
      MinOfLoads2<V>(disc.data(), disc.size(), x, m0, m1);
      e0 = LaneMin(e0, m0);
      e1 = LaneMin(e1, m1);
    }
    for (size_t g = size_t(full); g < end; ++g) {
      const TErosionTable::TRing& ring = tab.Rings[g];
      V v0, v1;
      MinOfLoads2<V>(j.Offset.data() + ring.First, size_t(ring.Count), x, v0, v1);
      const float w = t - ring.Distance;
      if (w >= 1.0f) {
        e0 = LaneMin(e0, v0);
        e1 = LaneMin(e1, v1);
      } else {
        const V wv = Splat<V>(w);
        e0 = v0 < e0 ? LaneMin(e0, c0 + (v0 - c0) * wv) : e0;
        e1 = v1 < e1 ? LaneMin(e1, c1 + (v1 - c1) * wv) : e1;
      }
    }
    e0 = e0 + lift;
    e1 = e1 + lift;
    StoreLanes(j.Dst + x, c0 > blank ? (e0 < c0 ? e0 : c0) : LoadLanes<V>(j.Dst + x));
    StoreLanes(j.Dst + x + n, c1 > blank ? (e1 < c1 ? e1 : c1) : LoadLanes<V>(j.Dst + x + n));
  }
  ErodeRowScalar(j, x);
}

void ErodeRowSse2(TRowJob& j, TRowCache* cache, int64_t row) {
  if (j.Radius)
    ErodeRowVector<TVec4>(j, cache, row);
  else
    ErodeRowUniform<TVec4>(j, cache, row);
}

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 void ErodeRowAvx2(TRowJob& j, TRowCache* cache, int64_t row) {
  if (j.Radius)
    ErodeRowVector<TVec8>(j, cache, row);
  else
    ErodeRowUniform<TVec8>(j, cache, row);
}
#endif

}  // namespace

TErosionTable MakeErosionTable(int32_t reach, int32_t reachV) {
  TErosionTable tab;
  tab.Reach = std::max(reach, 0);
  tab.ReachV = std::clamp(reachV, 0, tab.Reach);
  // Rings by squared distance (equal squares give equal distances).
  std::map<int64_t, std::vector<TErosionOffset>> rings;
  for (int32_t dy = -tab.ReachV; dy <= tab.ReachV; ++dy)
    for (int32_t dx = -tab.Reach; dx <= tab.Reach; ++dx)
      rings[int64_t(dx) * dx + int64_t(dy) * dy].push_back({dx, dy});
  for (const auto& [sq, members] : rings) {
    tab.Rings.push_back({std::sqrt(float(sq)), int32_t(tab.Offsets.size()), int32_t(members.size())});
    tab.Offsets.insert(tab.Offsets.end(), members.begin(), members.end());
  }
  const size_t rows = size_t(2 * tab.ReachV + 1);
  std::vector<int32_t> hw(rows, -1);
  tab.HalfWidth.push_back(hw);
  tab.DiscCount.push_back(0);
  tab.DiscRows.push_back(0);
  int32_t count = 0;
  for (const TErosionTable::TRing& ring : tab.Rings) {
    for (int32_t k = ring.First; k < ring.First + ring.Count; ++k) {
      const TErosionOffset o = tab.Offsets[size_t(k)];
      int32_t& h = hw[size_t(o.Dy + tab.ReachV)];
      h = std::max(h, std::abs(o.Dx));
    }
    count += ring.Count;
    tab.HalfWidth.push_back(hw);
    tab.DiscCount.push_back(count);
    tab.DiscRows.push_back(int32_t(std::count_if(hw.begin(), hw.end(), [](int32_t h) { return h >= 0; })));
  }
  return tab;
}

bool ErodePlane(const TErosionPlane& plane, const TErosionTable& tab, bool vector, TFilterPoll* poll,
                int planeIndex) {
  const TWorkRect& r = plane.Rect;
  const int32_t cols = r.x2 - r.x1 + 1, rows = r.y2 - r.y1 + 1;
  if (cols < 1 || rows < 1) return true;
  const int64_t w = plane.Width;
  CheckRect(plane.Source.size(), int32_t(w), r.y2 + 1, w);
  CheckRect(plane.Destination.size(), int32_t(w), r.y2 + 1, w);
  if (!plane.Radius.empty()) CheckRect(plane.Radius.size(), cols, rows, cols);

  return ForEachRowChunk(0, rows, cols, poll, planeIndex, [&](int64_t a, int64_t b) {
    TErosionBand band(plane, tab, vector);
    band.Erode(a, b, nullptr, true);
  });
}

struct TErosionBand::TState {
  const TErosionPlane& Plane;
  const TErosionTable& Table;
  bool Vector, Avx2, Minima;
  int32_t Cols;
  TRowJob Job;
  // Strips of columns, so that the rows around the output row stay in the
  // cache; a row cache per strip, made when first needed.
  std::vector<std::unique_ptr<TRowCache>> Caches;
  TState(const TErosionPlane& plane, const TErosionTable& tab, bool vector)
      : Plane(plane),
        Table(tab),
        Vector(vector),
        Avx2(UseAvx2(vector)),
        Minima(vector && tab.Reach <= MaxMinimaReach),
        Cols(plane.Rect.x2 - plane.Rect.x1 + 1) {
    const int64_t w = plane.Width;
    CheckRect(plane.Source.size(), int32_t(w), plane.Rect.y2 + 1, w);
    CheckRect(plane.Destination.size(), int32_t(w), plane.Rect.y2 + 1, w);
    Job.Table = &tab;
    Job.Rows.resize(size_t(2 * tab.ReachV + 1));
    Job.Offset.resize(tab.Offsets.size());
    Job.UniformRadius = plane.UniformRadius;
    Job.Lift = plane.Lift;
    Caches.resize(size_t((Cols + StripColumns - 1) / StripColumns));
  }
};

TErosionBand::TErosionBand(const TErosionPlane& plane, const TErosionTable& table, bool vector)
    : state_(std::make_unique<TState>(plane, table, vector)) {}

TErosionBand::~TErosionBand() = default;

void TErosionBand::Erode(int64_t a, int64_t b, const float* radius, bool final) {
  TState& st = *state_;
  const TErosionPlane& plane = st.Plane;
  const TErosionTable& tab = st.Table;
  const TWorkRect& r = plane.Rect;
  const int64_t w = plane.Width, cols = st.Cols;
  TRowJob& j = st.Job;
  // The radius of row y at radii + (y - from) * cols.
  const float* radii = radius ? radius : plane.Radius.empty() ? nullptr : plane.Radius.data() + a * cols;
  for (size_t strip = 0; strip < st.Caches.size(); ++strip) {
    const int32_t first = int32_t(strip) * StripColumns;
    if (!st.Caches[strip])
      st.Caches[strip] = std::make_unique<TRowCache>(plane, tab, st.Minima, first, std::min(StripColumns, st.Cols - first));
    TRowCache& cache = *st.Caches[strip];
    j.Count = std::min(StripColumns, st.Cols - first);
    j.Pad = cache.Pad();
    for (int64_t y = a; y < b; ++y) {
      for (int32_t dy = -tab.ReachV; dy <= tab.ReachV; ++dy) j.Rows[size_t(dy + tab.ReachV)] = cache.Row(y + dy);
      for (size_t k = 0; k < tab.Offsets.size(); ++k) {
        const TErosionOffset o = tab.Offsets[k];
        j.Offset[k] = j.Rows[size_t(o.Dy + tab.ReachV)] + j.Pad + o.Dx;
      }
      j.Src = plane.Source.data() + (r.y1 + y) * w + r.x1 + first;
      j.Dst = plane.Destination.data() + (r.y1 + y) * w + r.x1 + first;
      j.Radius = radii ? radii + (y - a) * cols + first : nullptr;
      if (!st.Vector)
        ErodeRowScalar(j, 0);
#if ASTRELON_HAVE_AVX2
      else if (st.Avx2)
        ErodeRowAvx2(j, st.Minima ? &cache : nullptr, y);
#endif
      else
        ErodeRowSse2(j, st.Minima ? &cache : nullptr, y);
    }
    // The next strip's rows then take the same memory.
    if (final) st.Caches[strip].reset();
  }
}

}  // namespace astrelon

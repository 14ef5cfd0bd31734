#include "filters/soft_erosion.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <optional>

#include "filters/filter_rows.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"

namespace astrelon {

namespace {

constexpr float Inf = std::numeric_limits<float>::infinity();

// The smaller of two values as the processor's minimum instruction takes it
// (the second when they are equal), so that every path picks the same one.
inline float MinPs(float a, float b) { return a < b ? a : b; }

// The rectangle's values with blanks as +inf, padded with +inf by Reach columns
// on both sides, so that offsets never leave a row.
struct TPadded {
  std::vector<float> Data;
  int64_t Stride = 0;
  int32_t Pad = 0;
  const float* Row(int64_t r) const { return Data.data() + r * Stride; }
};

// Rows of the padded rectangle around one output row: entry dy + ReachV, null
// where the row lies outside the rectangle.
struct TRowWindow {
  std::vector<const float*> Rows;
};

// ---- scalar path ----

float ErodePixel(const TErosionTable& tab, const float* const* rows, int64_t i, float c, float t, float lift) {
  if (!(t > 0)) return c;
  float e = c;
  for (const TErosionTable::TRing& ring : tab.Rings) {
    if (!(t > ring.Distance)) break;
    const float w = t - ring.Distance;
    float v = Inf;
    for (int32_t k = ring.First; k < ring.First + ring.Count; ++k) {
      const TErosionOffset o = tab.Offsets[size_t(k)];
      if (const float* r = rows[o.Dy + tab.ReachV]) v = MinPs(v, r[i + o.Dx]);
    }
    if (v < e) e = w >= 1.0f ? v : MinPs(e, c + (v - c) * w);
  }
  e += lift;
  return e < c ? e : c;
}

void ErodeRowScalar(const TErosionTable& tab, const float* const* rows, int32_t pad, const float* src,
                    const float* t, float* dst, int32_t from, int32_t to, float lift) {
  for (int32_t x = from; x < to; ++x)
    if (IsValidPixel(src[x])) dst[x] = ErodePixel(tab, rows, pad + x, src[x], t[x], lift);
}

// ---- vector path (GCC vector extensions: SSE2 code by default, AVX2 code when
// inlined into a function compiled for it) ----

// The helpers are always inlined, so the calling convention of eight-wide
// vectors outside AVX code never applies.
#pragma GCC diagnostic ignored "-Wpsabi"

typedef float TVec4 __attribute__((vector_size(16)));
typedef float TVec8 __attribute__((vector_size(32)));

template <class V>
constexpr int Lanes = int(sizeof(V) / sizeof(float));

template <class V>
[[gnu::always_inline]] inline V Load(const float* p) {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <class V>
[[gnu::always_inline]] inline void Store(float* p, V v) {
  std::memcpy(p, &v, sizeof v);
}
template <class V>
[[gnu::always_inline]] inline V Splat(float f) {
  return V{} + f;
}
template <class V>
[[gnu::always_inline]] inline V VMin(V a, V b) {
  return a < b ? a : b;
}

// Running minima of a padded row: level k holds at x the minimum of x-k..x+k.
class TRunningMinima {
public:
  TRunningMinima(const TPadded& p, int32_t reach, int32_t reachV, int32_t rows)
      : padded_(p), reach_(reach), rows_(rows), ring_(size_t(2 * reachV + 1)) {}

  // Level k >= 1 of rectangle row r.
  template <class V>
  [[gnu::always_inline]] inline const float* Level(int32_t r, int32_t k) {
    TEntry& e = ring_[size_t(r) % ring_.size()];
    if (e.Row != r) {
      e.Row = r;
      e.Levels = 0;
      if (e.Data.empty()) e.Data.resize(size_t(reach_) * size_t(padded_.Stride));
    }
    while (e.Levels < k) {
      const int32_t m = e.Levels + 1;
      const float* in = m == 1 ? padded_.Row(r) : e.Data.data() + size_t(m - 2) * size_t(padded_.Stride);
      float* out = e.Data.data() + size_t(m - 1) * size_t(padded_.Stride);
      // Level 1 from the row (three values), level m + 1 from level m (its two neighbours).
      const int64_t lo = m, hi = padded_.Stride - m;  // x in [lo, hi)
      int64_t x = lo;
      constexpr int n = Lanes<V>;
      if (m == 1) {
        for (; x + n <= hi; x += n)
          Store(out + x, VMin(VMin(Load<V>(in + x - 1), Load<V>(in + x)), Load<V>(in + x + 1)));
        for (; x < hi; ++x) out[x] = MinPs(MinPs(in[x - 1], in[x]), in[x + 1]);
      } else {
        for (; x + n <= hi; x += n) Store(out + x, VMin(Load<V>(in + x - 1), Load<V>(in + x + 1)));
        for (; x < hi; ++x) out[x] = MinPs(in[x - 1], in[x + 1]);
      }
      e.Levels = m;
    }
    return e.Data.data() + size_t(k - 1) * size_t(padded_.Stride);
  }

private:
  struct TEntry {
    int32_t Row = -1;
    int32_t Levels = 0;
    std::vector<float> Data;  // levels 1..reach, Stride values each
  };
  const TPadded& padded_;
  int32_t reach_;
  int32_t rows_;
  std::vector<TEntry> ring_;
};

// Number of leading rings that are full (t - d >= 1) for a radius t.
int32_t FullRings(const TErosionTable& tab, float t) {
  int32_t k = 0;
  while (k < int32_t(tab.Rings.size()) && t - tab.Rings[size_t(k)].Distance >= 1.0f) ++k;
  return k;
}

template <class V>
[[gnu::always_inline]] inline void ErodeRowVector(const TErosionTable& tab, const float* const* rows, int32_t row,
                                                  int32_t pad, const float* src, const float* t, float* dst,
                                                  int32_t count, float lift, TRunningMinima* minima) {
  constexpr int n = Lanes<V>;
  const V blank = Splat<V>(BlankLimit), one = Splat<V>(1.0f), inf = Splat<V>(Inf), up = Splat<V>(lift);
  const int32_t rv = tab.ReachV;
  int32_t x = 0;
  for (; x + n <= count; x += n) {
    const V c = Load<V>(src + x);
    const V tv = Load<V>(t + x);
    float tmax = 0, tmin = tv[0];
    for (int k = 0; k < n; ++k) {
      if (tv[k] > tmax) tmax = tv[k];
      if (!(tv[k] >= tmin)) tmin = tv[k];
    }
    const auto valid = c > blank;
    if (!(tmax > 1.0f)) {
      // No ring beyond the pixel itself: every result is c.
      Store(dst + x, valid ? c : Load<V>(dst + x));
      continue;
    }
    const int64_t i = pad + x;
    const int32_t full = FullRings(tab, tmin);
    V e = c;
    if (full > 0) {
      V m = inf;
      if (minima && tab.DiscCount[size_t(full)] >= 3 * tab.DiscRows[size_t(full)]) {
        const std::vector<int32_t>& hw = tab.HalfWidth[size_t(full)];
        for (int32_t dy = -rv; dy <= rv; ++dy) {
          const int32_t k = hw[size_t(dy + rv)];
          if (k < 0 || !rows[dy + rv]) continue;
          const float* level = k == 0 ? rows[dy + rv] : minima->Level<V>(row + dy, k);
          m = VMin(m, Load<V>(level + i));
        }
      } else {
        const TErosionTable::TRing& last = tab.Rings[size_t(full - 1)];
        for (int32_t k = 0; k < last.First + last.Count; ++k) {
          const TErosionOffset o = tab.Offsets[size_t(k)];
          if (const float* r = rows[o.Dy + rv]) m = VMin(m, Load<V>(r + i + o.Dx));
        }
      }
      e = VMin(e, m);
    }
    for (size_t g = size_t(full); g < tab.Rings.size(); ++g) {
      const TErosionTable::TRing& ring = tab.Rings[g];
      if (!(tmax > ring.Distance)) break;
      V v = inf;
      for (int32_t k = ring.First; k < ring.First + ring.Count; ++k) {
        const TErosionOffset o = tab.Offsets[size_t(k)];
        if (const float* r = rows[o.Dy + rv]) v = VMin(v, Load<V>(r + i + o.Dx));
      }
      const V d = Splat<V>(ring.Distance);
      const V w = tv - d;
      const V part = VMin(e, c + (v - c) * w);
      const V next = w >= one ? v : part;
      e = ((tv > d) & (v < e)) ? next : e;
    }
    e = e + up;
    const V r = e < c ? e : c;
    Store(dst + x, valid ? r : Load<V>(dst + x));
  }
  ErodeRowScalar(tab, rows, pad, src, t, dst, x, count, lift);
}

void ErodeRowSse2(const TErosionTable& tab, const float* const* rows, int32_t row, int32_t pad, const float* src,
                  const float* t, float* dst, int32_t count, float lift, TRunningMinima* minima) {
  ErodeRowVector<TVec4>(tab, rows, row, pad, src, t, dst, count, lift, minima);
}

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 void ErodeRowAvx2(const TErosionTable& tab, const float* const* rows, int32_t row, int32_t pad,
                                const float* src, const float* t, float* dst, int32_t count, float lift,
                                TRunningMinima* minima) {
  ErodeRowVector<TVec8>(tab, rows, row, pad, src, t, dst, count, lift, minima);
}
#endif

// Running minima pay off only for small reaches (their memory grows with the
// reach squared).
constexpr int32_t MaxMinimaReach = 12;

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
  CheckRect(plane.Radius.size(), cols, rows, cols);

  TPadded padded;
  padded.Pad = tab.Reach;
  padded.Stride = int64_t(cols) + 2 * int64_t(tab.Reach);
  padded.Data.resize(size_t(padded.Stride) * size_t(rows));
  if (!ForEachRowChunk(0, rows, padded.Stride, nullptr, planeIndex, [&](int64_t a, int64_t b) {
        for (int64_t y = a; y < b; ++y) {
          float* out = padded.Data.data() + y * padded.Stride;
          const float* in = plane.Source.data() + (r.y1 + y) * w + r.x1;
          std::fill(out, out + padded.Pad, Inf);
          for (int32_t x = 0; x < cols; ++x) out[padded.Pad + x] = IsValidPixel(in[x]) ? in[x] : Inf;
          std::fill(out + padded.Pad + cols, out + padded.Stride, Inf);
        }
      }))
    return false;

  const bool avx2 = UseAvx2(vector);
  return ForEachRowChunk(0, rows, cols, poll, planeIndex, [&](int64_t a, int64_t b) {
    std::vector<const float*> window(size_t(2 * tab.ReachV + 1));
    std::optional<TRunningMinima> minima;
    if (vector && tab.Reach <= MaxMinimaReach) minima.emplace(padded, tab.Reach, tab.ReachV, rows);
    for (int64_t y = a; y < b; ++y) {
      for (int32_t dy = -tab.ReachV; dy <= tab.ReachV; ++dy) {
        const int64_t ry = y + dy;
        window[size_t(dy + tab.ReachV)] = ry >= 0 && ry < rows ? padded.Row(ry) : nullptr;
      }
      const float* src = plane.Source.data() + (r.y1 + y) * w + r.x1;
      float* dst = plane.Destination.data() + (r.y1 + y) * w + r.x1;
      const float* t = plane.Radius.data() + y * cols;
      TRunningMinima* m = minima ? &*minima : nullptr;
      if (!vector)
        ErodeRowScalar(tab, window.data(), padded.Pad, src, t, dst, 0, cols, plane.Lift);
#if ASTRELON_HAVE_AVX2
      else if (avx2)
        ErodeRowAvx2(tab, window.data(), int32_t(y), padded.Pad, src, t, dst, cols, plane.Lift, m);
#endif
      else
        ErodeRowSse2(tab, window.data(), int32_t(y), padded.Pad, src, t, dst, cols, plane.Lift, m);
    }
  });
}

}  // namespace astrelon

#include "filters/sharpening/psf_sharpen_passes.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <type_traits>
#include <vector>

#include "filters/sharpening/iterative_sharpen_levels.h"
#include "filters/sharpening/balance/sharpen_flux_balance.h"
#include "platform/simd_support.h"
#include "platform/vector_lanes.h"

// The vector helpers are always inlined, so the calling convention of 32-byte
// vectors outside AVX code never applies.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

using namespace simd;

// A tap for one output row: the pixel it reads for column x lies at index
// At + x of the image planes and AAt + x of the rectangle's arrays, in column
// x + Dx (Dx already turned for the pass).
struct TRowTap {
  int64_t At = 0, AAt = 0;
  float W = 0, AbsW = 0;
  int32_t Dx = 0;
};

// The sums of one row, one array each (up to four).
using TRowSums = std::array<float*, 4>;

// The columns [first, last] of the rectangle whose taps all read inside it:
// x + sign·Dx within x1..x2 for every tap.
struct TInterior {
  int32_t First = 0, Last = -1;
};
TInterior Interior(std::span<const TPsfTap> taps, const TWorkRect& r, int sign) {
  int32_t lo = 0, hi = 0;
  for (const TPsfTap& t : taps) {
    lo = std::min(lo, sign * t.Dx);
    hi = std::max(hi, sign * t.Dx);
  }
  return {r.x1 - lo, r.x2 - hi};
}

// Reblur sums of V lanes: Σw, Σw·g(v) and the smallest v over the valid values
// v met, g(v) = v (linear) or (v - lo)² (quadratic). On a row whose taps meet no
// blank value (Clean) Σw is the row's sum of weights, the same sum in the same
// order, and only the other two are added up.
template <bool Quadratic, bool Clean = false>
struct TReblurKind {
  static constexpr int Blocks = 4;
  using Checked = TReblurKind<Quadratic, false>;
  static float Weight(const TRowTap& k) { return k.W; }
  static bool RowClean(const TPsfPass& pass, int64_t yy) {
    const float* d = pass.Dest + yy * pass.Width + pass.Rect.x1;
    return std::all_of(d, d + (pass.Rect.x2 - pass.Rect.x1 + 1), [](float v) { return IsValidPixel(v); });
  }
  template <class V>
  struct Sums {
    V S = Splat<V>(0.0f), T = Splat<V>(0.0f), M = Splat<V>(1e18f);
    float Level = 0;
    [[gnu::always_inline]] Sums(float level, float rowSum) : Level(level) {
      if constexpr (Clean) S = Splat<V>(rowSum);
    }
    [[gnu::always_inline]] void Add(const TPsfPass& pass, const TRowTap& k, int64_t x) {
      const V v = LoadLanes<V>(pass.Dest + (k.At + x));
      V g = v;
      if constexpr (Quadratic) {
        const V d = v - Splat<V>(Level);
        g = d * d;
      }
      if constexpr (Clean) {
        T += Splat<V>(k.W) * g;
        M = LaneMin(M, v);
      } else {
        const auto valid = v > Splat<V>(BlankLimit);
        const V zero = Splat<V>(0.0f);
        S += valid ? Splat<V>(k.W) : zero;
        T += valid ? Splat<V>(k.W) * g : zero;
        M = valid ? LaneMin(M, v) : M;
      }
    }
    [[gnu::always_inline]] void Store(const TRowSums& out, size_t i) const {
      StoreLanes(out[0] + i, S);
      StoreLanes(out[1] + i, T);
      StoreLanes(out[2] + i, M);
    }
  };
};

// Correction sums of V lanes over the differences: |P| and P·r outside
// saturated positions (S, T, from A), and at saturated positions with r > 0
// (S2, T2, from R2). On a row whose taps meet only counting differences outside
// saturated positions (Clean), Σ|P| is the row's sum and S2, T2 stay 0.
template <bool Clean = false>
struct TCorrectionKind {
  static constexpr int Blocks = 2;
  using Checked = TCorrectionKind<false>;
  static float Weight(const TRowTap& k) { return k.AbsW; }
  static bool RowClean(const TPsfPass& pass, int64_t yy) {
    const int32_t n = pass.Rect.x2 - pass.Rect.x1 + 1;
    const float* a = pass.A + (yy - pass.Rect.y1) * n;
    const float* a2 = pass.R2 + (yy - pass.Rect.y1) * n;
    return std::all_of(a, a + n, [](float v) { return v == v; }) &&
           std::none_of(a2, a2 + n, [](float v) { return v == v; });
  }
  template <class V>
  struct Sums {
    V S = Splat<V>(0.0f), T = S, S2 = S, T2 = S;
    [[gnu::always_inline]] Sums(float, float rowSum) {
      if constexpr (Clean) S = Splat<V>(rowSum);
    }
    [[gnu::always_inline]] void Add(const TPsfPass& pass, const TRowTap& k, int64_t x) {
      const V r = LoadLanes<V>(pass.A + (k.AAt + x));
      if constexpr (Clean) {
        T += Splat<V>(k.W) * r;
      } else {
        const V r2 = LoadLanes<V>(pass.R2 + (k.AAt + x));
        const V zero = Splat<V>(0.0f);
        // NaN marks the positions that do not count.
        const auto plain = r == r;
        const auto deep = r2 == r2;
        S += plain ? Splat<V>(k.AbsW) : zero;
        T += plain ? Splat<V>(k.W) * r : zero;
        S2 += deep ? Splat<V>(k.AbsW) : zero;
        T2 += deep ? Splat<V>(k.W) * r2 : zero;
      }
    }
    [[gnu::always_inline]] void Store(const TRowSums& out, size_t i) const {
      StoreLanes(out[0] + i, S);
      StoreLanes(out[1] + i, T);
      StoreLanes(out[2] + i, S2);
      StoreLanes(out[3] + i, T2);
    }
  };
};

// B sums side by side for the columns x, x + L, ... (members, not an array, so
// that they stay in registers).
template <class Sums, int L, int B>
struct TBlocks {
  Sums First;
  TBlocks<Sums, L, B - 1> Rest;
  [[gnu::always_inline]] TBlocks(float lo, float rowSum) : First(lo, rowSum), Rest(lo, rowSum) {}
  [[gnu::always_inline]] void Add(const TPsfPass& pass, const TRowTap& k, int64_t x) {
    First.Add(pass, k, x);
    Rest.Add(pass, k, x + L);
  }
  [[gnu::always_inline]] void Store(const TRowSums& out, size_t i) const {
    First.Store(out, i);
    Rest.Store(out, i + L);
  }
};
template <class Sums, int L>
struct TBlocks<Sums, L, 1> {
  Sums First;
  [[gnu::always_inline]] TBlocks(float lo, float rowSum) : First(lo, rowSum) {}
  [[gnu::always_inline]] void Add(const TPsfPass& pass, const TRowTap& k, int64_t x) { First.Add(pass, k, x); }
  [[gnu::always_inline]] void Store(const TRowSums& out, size_t i) const { First.Store(out, i); }
};

// The sums of every column of one row: V lanes at a time where every tap reads
// inside the rectangle, one column at a time (skipping the taps that fall
// outside) elsewhere; a column gets the same sums either way.
template <class Kind, class V>
[[gnu::always_inline]] inline void SumRow(const TPsfPass& pass, const std::vector<TRowTap>& taps, const TInterior& in,
                                          float lo, float rowSum, const TRowSums& out) {
  using VSums = typename Kind::template Sums<V>;
  const int32_t x1 = pass.Rect.x1, x2 = pass.Rect.x2;
  constexpr int L = LaneCount<V>;
  auto checked = [&](int32_t x) {
    typename Kind::Checked::template Sums<float> s(lo, 0.0f);
    for (const TRowTap& k : taps)
      if (x + k.Dx >= x1 && x + k.Dx <= x2) s.Add(pass, k, x);
    s.Store(out, size_t(x - x1));
  };
  int32_t x = x1;
  for (; x <= x2 && x < in.First; ++x) checked(x);
  // Several independent blocks per tap, so that the sums' additions overlap.
  constexpr int B = Kind::Blocks;
  for (; x + B * L - 1 <= in.Last; x += B * L) {
    TBlocks<VSums, L, B> s(lo, rowSum);
    for (const TRowTap& k : taps) s.Add(pass, k, x);
    s.Store(out, size_t(x - x1));
  }
  for (; x + L - 1 <= in.Last; x += L) {
    VSums s(lo, rowSum);
    for (const TRowTap& k : taps) s.Add(pass, k, x);
    s.Store(out, size_t(x - x1));
  }
  for (; x <= x2; ++x) checked(x);
}

// The rows y0..y1 - 1: the taps reading rows y + sign·Dy inside the rectangle
// (columns x + sign·Dx), their sums, then finish(y, sums) per row. A row whose
// taps read only rows that CleanKind finds clean takes CleanKind's sums, with
// the row's sum of its weights in tap order.
template <class Kind, class CleanKind, class V, class Finish>
[[gnu::always_inline]] inline void SumRows(const TPsfPass& pass, std::span<const TPsfTap> taps, int sign, float lo,
                                           int64_t y0, int64_t y1, Finish&& finish) {
  constexpr bool canClean = !std::is_same_v<Kind, CleanKind>;
  const TWorkRect& r = pass.Rect;
  const int32_t n = r.x2 - r.x1 + 1;
  const TInterior in = Interior(taps, r, sign);
  std::array<std::vector<float>, 4> sums;
  TRowSums out{};
  for (size_t k = 0; k < sums.size(); ++k) {
    sums[k].resize(static_cast<size_t>(n));
    out[k] = sums[k].data();
  }
  // Per row of the rectangle: -1 not looked at yet, 0 not clean, 1 clean.
  std::vector<int8_t> clean(canClean ? size_t(r.y2 - r.y1 + 1) : 0, -1);
  auto rowClean = [&](int64_t yy) {
    int8_t& c = clean[size_t(yy - r.y1)];
    if (c < 0) c = int8_t(CleanKind::RowClean(pass, yy));
    return c == 1;
  };
  std::vector<TRowTap> row;
  row.reserve(taps.size());
  for (int64_t y = y0; y < y1; ++y) {
    row.clear();
    bool allClean = canClean;
    float rowSum = 0.0f;
    for (const TPsfTap& t : taps) {
      const int64_t yy = y + sign * t.Dy;
      const int32_t dx = sign * t.Dx;
      if (yy < r.y1 || yy > r.y2) continue;
      row.push_back({yy * pass.Width + dx, (yy - r.y1) * n + dx - r.x1, t.W, std::fabs(t.W), dx});
      if constexpr (canClean) {
        allClean = allClean && rowClean(yy);
        rowSum += CleanKind::Weight(row.back());
      }
    }
    if (allClean)
      SumRow<CleanKind, V>(pass, row, in, lo, rowSum, out);
    else
      SumRow<Kind, V>(pass, row, in, lo, 0.0f, out);
    finish(y, out);
  }
}

// ---- reblur ----

template <class V>
[[gnu::always_inline]] inline void ReblurRowsT(const TPsfPass& pass, std::span<const TPsfTap> taps,
                                               const TReblurSettings& s, int64_t y0, int64_t y1) {
  const TWorkRect& r = pass.Rect;
  const int32_t n = r.x2 - r.x1 + 1;
  auto finish = [&](int64_t y, const TRowSums& sums) {
    const float* src = pass.Source + y * pass.Width;
    float* A = pass.A + (y - r.y1) * n;
    float* C = pass.C + (y - r.y1) * n;
    for (int32_t i = 0; i < n; ++i) {
      if (!IsValidPixel(src[r.x1 + i])) continue;
      const float sum = sums[0][i], total = sums[1][i];
      if (std::fabs(sum) <= 0.1f * s.Pk) {
        A[i] = BlankPixel;
        C[i] = s.Lo;
        continue;
      }
      if (!s.Quadratic) {
        A[i] = total / sum;
      } else {
        // The root of the weighted mean square, signed; a PSF weighing more
        // negative than positive leaves no root (blank).
        const float q = total / sum;
        if (total >= 0)
          A[i] = q >= 0 ? s.Lo + std::sqrt(q) : BlankPixel;
        else
          A[i] = q <= 0 ? s.Lo - std::sqrt(-q) : BlankPixel;
      }
      // C holds the reblur's floor here; the correction reads it and puts the
      // correction in its place.
      C[i] = sums[2][i] + 2 * s.A;
    }
  };
  // The reblur reads the destination at (y - Dy, x - Dx).
  if (s.Quadratic)
    SumRows<TReblurKind<true>, TReblurKind<true, true>, V>(pass, taps, -1, s.Lo, y0, y1, finish);
  else
    SumRows<TReblurKind<false>, TReblurKind<false, true>, V>(pass, taps, -1, s.Lo, y0, y1, finish);
}

// ---- differences ----

// A := source - A where both are valid and the position is not saturated,
// R2 := the same where it is saturated and the difference rises; NaN where a
// position does not count. Comparing the reblurred destination with the source
// (not with the destination itself) makes the iterations converge on an image
// that, blurred with the PSF, gives the source back. The balance's heights are
// taken from A first, while it still holds the reblur (blank or NaN where the
// source is blank).
void DifferenceRowsT(const TPsfPass& pass, int64_t y0, int64_t y1) {
  const TWorkRect& r = pass.Rect;
  const int32_t n = r.x2 - r.x1 + 1;
  const float none = std::numeric_limits<float>::quiet_NaN();
  for (int64_t y = y0; y < y1; ++y) {
    const float* src = pass.Source + y * pass.Width + r.x1;
    const float* dest = pass.Dest + y * pass.Width + r.x1;
    const uint8_t* marks = pass.Marks + y * pass.Width + r.x1;
    float* A = pass.A + (y - r.y1) * n;
    float* R2 = pass.R2 + (y - r.y1) * n;
    if (pass.Balance) BalanceHeightRow<float>(*pass.Balance, y - r.y1, dest, A);
    for (int32_t i = 0; i < n; ++i) {
      const bool valid = IsValidPixel(src[i]) && IsValidPixel(A[i]);
      const float diff = src[i] - A[i];
      const bool saturated = marks[i] != 0;
      R2[i] = valid && saturated && diff > 0 ? diff : none;
      A[i] = valid && !saturated ? diff : none;
    }
  }
}

// ---- correction ----

template <class V>
[[gnu::always_inline]] inline void CorrectionRowsT(const TPsfPass& pass, std::span<const TPsfTap> taps,
                                                   const TCorrectionSettings& s, int64_t y0, int64_t y1) {
  const TWorkRect& r = pass.Rect;
  const int32_t n = r.x2 - r.x1 + 1;
  auto finish = [&](int64_t y, const TRowSums& sums) {
    const float* dest = pass.Dest + y * pass.Width + r.x1;
    const uint8_t* marks = pass.Marks + y * pass.Width + r.x1;
    float* C = pass.C + (y - r.y1) * n;
    const TBalanceRows* balance = pass.Balance;
    auto want = [&](int32_t i, float v) {
      if (balance) balance->Wanted[balance->Index(y - r.y1, i)] = v;
    };
    for (int32_t i = 0; i < n; ++i) {
      float sum = sums[0][i], total = sums[1][i];
      const float sum2 = sums[2][i], total2 = sums[3][i];
      // Too little weight outside saturated areas: their rising values help out.
      if (sum < s.W1 && sum2 > 0) {
        sum += sum2;
        total += total2 * sum2;
      }
      if (sum < s.W1) {
        C[i] = BlankPixel;
        want(i, 0.0f);
        continue;
      }
      total /= sum;
      // A saturated pixel is never darkened: its negative correction is
      // dropped, however much its unsaturated neighbours ask for it, and the
      // balance is not asked to hand it on.
      if (marks[i] != 0 && total < 0) total = 0.0f;
      const float d = dest[i];
      want(i, total * s.S * s.S);
      if (s.Surround && C[i] > s.Lo) {
        // C is still the reblur's floor here.
        const float delta = std::fabs(d - C[i]);
        const float f = std::min(delta * s.D, 1.0f);
        C[i] = std::max(total * s.S * f, -delta);
      } else {
        const float delta = std::max(d - s.Lo, s.Step);
        const float f = std::min(delta * s.D, 1.0f);
        C[i] = total * s.S * f;
      }
    }
  };
  // The correction reads the differences at (y + Dy, x + Dx).
  SumRows<TCorrectionKind<>, TCorrectionKind<true>, V>(pass, taps, 1, 0.0f, y0, y1, finish);
}

// ---- application ----

template <class V>
[[gnu::always_inline]] inline V ApplyLanes(V d, V c, V bound, V hi, const TApplySettings& s) {
  const V limit = Splat<V>(BlankLimit), zero = Splat<V>(0.0f);
  const V u = c * Splat<V>(s.S);
  const V delta = u * SoftStep(u, s.W2);
  const V moved = d + delta;
  // hi is a floor for the values at or above it: a value put on hi by one
  // iteration does not sink below it in the next.
  const V kept = d < hi ? (delta > zero ? moved : d) : moved;
  const V res = (d >= hi) & (moved < hi) ? hi : kept;
  const V top = LaneMax(d, bound);
  return (c > limit) & (d > limit) ? (res > top ? top : res) : d;
}

// The pixels i .. i + lanes - 1 of a row: the application and, for the
// balance, the change made (0 where the destination is blank).
template <class V>
[[gnu::always_inline]] inline void ApplyAt(float* d, const float* c, const float* bound, const float* floor,
                                           float* made, int32_t i, const TApplySettings& s) {
  const V before = LoadLanes<V>(d + i);
  const V top = bound ? LoadLanes<V>(bound + i) : Splat<V>(HUGE_VALF);
  const V hi = floor ? LaneMax(LoadLanes<V>(floor + i), Splat<V>(s.Hi)) : Splat<V>(s.Hi);
  const V after = ApplyLanes<V>(before, LoadLanes<V>(c + i), top, hi, s);
  StoreLanes(d + i, after);
  if (made) StoreLanes(made + i, before > Splat<V>(BlankLimit) ? after - before : Splat<V>(0.0f));
}

template <class V>
[[gnu::always_inline]] inline void ApplyRowsT(const TPsfPass& pass, const TApplySettings& s, int64_t y0, int64_t y1) {
  const TWorkRect& r = pass.Rect;
  const int32_t n = r.x2 - r.x1 + 1;
  constexpr int L = LaneCount<V>;
  for (int64_t y = y0; y < y1; ++y) {
    float* d = pass.DestOut + y * pass.Width + r.x1;
    const float* c = pass.C + (y - r.y1) * n;
    const float* bound = s.Bound ? s.Bound + (y - r.y1) * n : nullptr;
    const float* floor = s.Floor ? s.Floor + (y - r.y1) * n : nullptr;
    const int64_t row = y - r.y1;
    for (int32_t x = 0; x < n; x += BalanceBlock) {
      // Block by block (whole vectors each), recording the change where the balance needs it.
      const int32_t len = std::min(BalanceBlock, n - x);
      float* made = pass.Balance && pass.Balance->NeedsChanges(row, x) ? pass.Balance->Made + pass.Balance->Index(row, x)
                                                                         : nullptr;
      int32_t i = 0;
      const float* b = bound ? bound + x : nullptr;
      const float* f = floor ? floor + x : nullptr;
      for (; i + L <= len; i += L) ApplyAt<V>(d + x, c + x, b, f, made, i, s);
      for (; i < len; ++i) ApplyAt<float>(d + x, c + x, b, f, made, i, s);
    }
  }
}

// Each pass as a type whose Rows<V> runs it V lanes wide.
struct TReblurPass {
  template <class V>
  [[gnu::always_inline]] static void Rows(const TPsfPass& p, std::span<const TPsfTap> t, const TReblurSettings& s,
                                          int64_t y0, int64_t y1) {
    ReblurRowsT<V>(p, t, s, y0, y1);
  }
};
struct TCorrectionPass {
  template <class V>
  [[gnu::always_inline]] static void Rows(const TPsfPass& p, std::span<const TPsfTap> t,
                                          const TCorrectionSettings& s, int64_t y0, int64_t y1) {
    CorrectionRowsT<V>(p, t, s, y0, y1);
  }
};
struct TApplyPass {
  template <class V>
  [[gnu::always_inline]] static void Rows(const TPsfPass& p, const TApplySettings& s, int64_t y0, int64_t y1) {
    ApplyRowsT<V>(p, s, y0, y1);
  }
};

#if ASTRELON_HAVE_AVX2
template <class Pass, class... Args>
ASTRELON_AVX2 void RunAvx2(const Args&... args) {
  Pass::template Rows<TVec8f>(args...);
}
#endif

// The widest path the switches allow.
template <class Pass, class... Args>
void Run(bool vector, const Args&... args) {
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) return RunAvx2<Pass>(args...);
#endif
  if (vector) return Pass::template Rows<TVec4f>(args...);
  Pass::template Rows<float>(args...);
}

}  // namespace

void ReblurRows(const TPsfPass& pass, std::span<const TPsfTap> taps, const TReblurSettings& s, int64_t y0,
                int64_t y1, bool vector) {
  Run<TReblurPass>(vector, pass, taps, s, y0, y1);
}

void CorrectionRows(const TPsfPass& pass, std::span<const TPsfTap> taps, const TCorrectionSettings& s, int64_t y0,
                    int64_t y1, bool vector) {
  Run<TCorrectionPass>(vector, pass, taps, s, y0, y1);
}

void DifferenceRows(const TPsfPass& pass, int64_t y0, int64_t y1) { DifferenceRowsT(pass, y0, y1); }

void ApplyCorrectionRows(const TPsfPass& pass, const TApplySettings& s, int64_t y0, int64_t y1, bool vector) {
  Run<TApplyPass>(vector, pass, s, y0, y1);
}

}  // namespace astrelon

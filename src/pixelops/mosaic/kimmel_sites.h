#pragma once
// The arithmetic of one site of "Bayer, modified Kimmel", written once for one
// site (D = double) and for four sites side by side (D = TVec4d, AVX2). A lane
// does the operations of a single site in the same order, on the same values,
// so every path gives the same bits. Values are read through functors: G(dy, dx)
// the green plane, C(dy, dx) the site's own colour (the mosaic in the first
// stage), each widened to D.
#include <cmath>

#include "kernels/mosaic/site_lanes.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon::kimmel {

using simd::AbsLanes;
using simd::AnyLane;
using simd::MaskOf;
using simd::RoundHalfEven;
using simd::Splat;

// The numbers every site uses.
struct TKimmelNumbers {
  double S3 = 0.01;       // max(0.01 noise, 0.01)
  double S = 0;           // 0.1 (maximum - minimum) of the result, for the refinement
  double K7000 = 70, K700 = 7, K300 = 3;  // 7000 S3, 700 S3, 300 S3
  double Spread = 8;      // S3 S3 80000: below it the line variances take 13 terms

  explicit TKimmelNumbers(double s3 = 0.01, double s = 0)
      : S3(s3), S(s), K7000(7000 * s3), K700(700 * s3), K300(300 * s3), Spread(s3 * s3 * 80000) {}
};

// The clamped whole number of round((dh + dv) / (7000 S3)), 0 .. 3 (NaN: 0).
template <class D>
[[gnu::always_inline]] inline D PowerOf(D dh, D dv, const TKimmelNumbers& n) {
  const D r = RoundHalfEven((dh + dv) / n.K7000);
  const D zero = Splat<D>(0.0);
  D m = r >= 1.0 ? Splat<D>(1.0) : zero;
  m = r >= 2.0 ? Splat<D>(2.0) : m;
  return r >= 3.0 ? Splat<D>(3.0) : m;
}

// k / (k + d^(2^m)).
template <class D>
[[gnu::always_inline]] inline D EdgeWeight(D d, D m, double k) {
  d = m >= 1.0 ? d * d : d;
  d = m >= 2.0 ? d * d : d;
  d = m >= 3.0 ? d * d : d;
  return k / (k + d);
}

// The pairs h (horizontal) and v (vertical) mixed by their weights; the plain
// mean of the four when both weights vanish.
template <class D>
[[gnu::always_inline]] inline D Mix(D h, D v, D wh, D wv) {
  const D sum = wh + wv;
  const D mixed = (h * wh + v * wv) / (2.0 * sum);
  return sum > 0.0 ? mixed : (h + v) * 0.25;
}

// Variance of the second differences of v(-r .. r) around 0 (r = 3: 5 terms,
// r = 7: 13 terms); v holds the values from v[0] = v(-7).
template <class D>
[[gnu::always_inline]] inline D LineVariance(const D* v, int32_t r) {
  D sum = Splat<D>(0.0), squares = Splat<D>(0.0);
  for (int32_t c = -r + 1; c <= r - 1; ++c) {
    const D e = v[c + 7] - (v[c + 6] + v[c + 8]) * 0.5;
    const D signed_e = (c & 1) ? -e : e;
    sum += signed_e;
    squares += signed_e * signed_e;
  }
  const double n = 2 * r - 1;
  const D mean = sum / n;
  return squares / n - mean * mean;
}

// The horizontal and vertical line variances of a site: along the row the own
// colour at offsets 0, +-2, +-3, ... and the green at +-1; down the column the
// same. Widened to 13 terms where the two differ by less than count Spread.
template <class D, class GF, class CF>
[[gnu::always_inline]] inline void LineVariances(GF&& G, CF&& C, D count, const TKimmelNumbers& n, D& vh, D& vv) {
  D row[15], column[15];
  for (int32_t d = -3; d <= 3; ++d) {
    row[d + 7] = d == 1 || d == -1 ? G(0, d) : C(0, d);
    column[d + 7] = d == 1 || d == -1 ? G(d, 0) : C(d, 0);
  }
  vh = LineVariance(row, 3);
  vv = LineVariance(column, 3);
  const auto widen = AbsLanes(vh - vv) / count < n.Spread;
  if (!AnyLane<D>(widen)) return;
  for (int32_t d = 4; d <= 7; ++d) {
    row[7 - d] = C(0, -d);
    row[7 + d] = C(0, d);
    column[7 - d] = C(-d, 0);
    column[7 + d] = C(d, 0);
  }
  const D wideH = LineVariance(row, 7), wideV = LineVariance(column, 7);
  vh = widen ? wideH : vh;
  vv = widen ? wideV : vv;
}

// Which of the edge terms of the first green a site lacks (uniform over lanes).
struct TFirstEdges {
  bool Left = false, Right = false, Top = false, Bottom = false;
};

// The first green of a red or blue site, and its refinement count (0 .. 12);
// `fits`: the 15-pixel lines of the variances lie inside the image.
template <class D, class GF, class MF>
[[gnu::always_inline]] inline void FirstGreen(GF&& G, MF&& M, const TKimmelNumbers& n, TFirstEdges edges,
                                              MaskOf<D> fits, D& green, D& count) {
  D dh = 0.001 + 2.0 * AbsLanes(G(0, -1) - G(0, 1)) + AbsLanes(G(-1, -2) - G(-1, 0)) +
         AbsLanes(G(1, -2) - G(1, 0)) + AbsLanes(G(-1, 0) - G(-1, 2)) + AbsLanes(G(1, 0) - G(1, 2)) +
         AbsLanes(G(-2, -1) - G(-2, 1)) + AbsLanes(G(2, -1) - G(2, 1));
  dh = edges.Left ? dh * 1.125 : dh + AbsLanes(G(0, -1) - M(0, -3));
  dh = edges.Right ? dh * 1.1111 : dh + AbsLanes(G(0, 1) - M(0, 3));
  D dv = 0.001 + 2.0 * AbsLanes(G(-1, 0) - G(1, 0)) + AbsLanes(G(-2, -1) - G(0, -1)) +
         AbsLanes(G(-2, 1) - G(0, 1)) + AbsLanes(G(-1, -2) - G(1, -2)) + AbsLanes(G(-1, 2) - G(1, 2)) +
         AbsLanes(G(0, -1) - G(2, -1)) + AbsLanes(G(0, 1) - G(2, 1));
  dv = edges.Top ? dv * 1.125 : dv + AbsLanes(G(-1, 0) - M(-3, 0));
  dv = edges.Bottom ? dv * 1.1111 : dv + AbsLanes(G(1, 0) - M(3, 0));
  const D m = PowerOf(dh, dv, n);
  const D l = G(0, -1), r = G(0, 1), u = G(-1, 0), d = G(1, 0);
  green = Mix(l + r, u + d, EdgeWeight(dh, m, 0.1), EdgeWeight(dv, m, 0.1));
  const D edge = AbsLanes(l - r) + AbsLanes(l - u) + AbsLanes(l - d) + AbsLanes(r - u) + AbsLanes(r - d) +
                 AbsLanes(u - d);
  const D spread = AbsLanes(dh - dv);
  D q = 1.67 * edge / (n.K700 + spread) + 1.5;
  q = 12.0 < q ? Splat<D>(12.0) : q;
  count = RoundHalfEven(q);
  const auto lines = (q > 3.0) & fits;
  if (AnyLane<D>(lines)) {
    D vh, vv;
    LineVariances(G, M, count, n, vh, vv);
    const D chosen = vh <= vv ? (l + r) * 0.5 : (u + d) * 0.5;
    D q2 = AbsLanes((l + r + u + d) * 0.25 - chosen) / (n.K300 + spread) * 20.0 + 2.5;
    q2 = 12.0 < q2 ? Splat<D>(12.0) : q2;
    green = lines ? chosen : green;
    count = lines ? RoundHalfEven(q2) : count;
  }
  // Round then clamp to 0 .. 12, as a whole number (NaN: 0).
  count = count >= 0.0 ? count : Splat<D>(0.0);
}

// A colour-difference fill from four neighbours in two opposite pairs: gc the
// green at the site, g[k] the green and d[k] the difference at neighbour k,
// pair0 and pair1 the terms of the pairs (0, 1) and (2, 3).
template <class D>
[[gnu::always_inline]] inline D DifferenceFill(D gc, const D (&g)[4], const D (&d)[4], D pair0, D pair1) {
  D sum = Splat<D>(0.0), weights = Splat<D>(0.0);
  for (int k = 0; k < 4; ++k) {
    const D dg = gc - g[k];
    const D w = 1.0 / (0.1 + dg * dg + (k < 2 ? pair0 : pair1));
    sum += w * d[k];
    weights += w;
  }
  return gc + sum / weights;
}

// A refinement pass at a red or blue site: the new green, or the current one
// where the site keeps it. count: the site's count (above 0); fits as in
// FirstGreen; rightEdge: the site is the last of its row (its G(0, +3) lies
// outside, G(0, +2) stands in); lineH and lineV: the site's LineVariances where
// the count is above 3 and the lines fit (read nowhere else).
template <class D, class GF, class CF>
[[gnu::always_inline]] inline D RefinedGreen(GF&& G, CF&& C, D count, MaskOf<D> fits, MaskOf<D> rightEdge,
                                             D lineH, D lineV, const TKimmelNumbers& n) {
  const D g0 = G(0, 0);
  const D right3 = rightEdge ? G(0, 2) : G(0, 3);
  D dh = 2.0 * AbsLanes(G(0, -1) - G(0, 1)) + AbsLanes(G(-1, -2) - G(-1, 0)) + AbsLanes(G(1, -2) - G(1, 0)) +
         AbsLanes(G(-1, 0) - G(-1, 2)) + AbsLanes(G(1, 0) - G(1, 2)) + AbsLanes(G(-2, -1) - G(-2, 1)) +
         AbsLanes(G(2, -1) - G(2, 1)) + AbsLanes(G(-1, -1) - G(-1, 1)) + AbsLanes(G(0, -2) - g0) +
         AbsLanes(g0 - G(0, 2)) + AbsLanes(G(1, -1) - G(1, 1)) + AbsLanes(G(0, -3) - G(0, -1)) +
         AbsLanes(G(0, 1) - right3);
  D dv = 2.0 * AbsLanes(G(-1, 0) - G(1, 0)) + AbsLanes(G(-2, -1) - G(0, -1)) + AbsLanes(G(-2, 1) - G(0, 1)) +
         AbsLanes(G(-1, -2) - G(1, -2)) + AbsLanes(G(-1, 2) - G(1, 2)) + AbsLanes(G(0, -1) - G(2, -1)) +
         AbsLanes(G(0, 1) - G(2, 1)) + AbsLanes(G(-2, 0) - g0) + AbsLanes(G(-1, -1) - G(1, -1)) +
         AbsLanes(G(-1, 1) - G(1, 1)) + AbsLanes(g0 - G(2, 0)) + AbsLanes(G(-3, 0) - G(-1, 0)) +
         AbsLanes(G(1, 0) - G(3, 0));
  const D m = PowerOf(dh, dv, n);
  const auto lines = (count > 3.0) & fits;
  if (AnyLane<D>(lines)) {
    dh = lines ? lineH + dh / count : dh;
    dv = lines ? lineV + dv / count : dv;
  }
  const D gl = G(0, -1) - C(0, -1), gr = G(0, 1) - C(0, 1), gu = G(-1, 0) - C(-1, 0), gd = G(1, 0) - C(1, 0);
  const D gnew = C(0, 0) + Mix(gl + gr, gu + gd, EdgeWeight(dh, m, 1.0), EdgeWeight(dv, m, 1.0));
  const D mean = -(gl + gr + gu + gd) * 0.25;
  const auto take = (g0 <= -n.S) | ((mean + n.S) / (g0 + n.S) < 0.7 + 0.2 * count);
  return take ? (g0 + gnew) * 0.5 : g0;
}

}  // namespace astrelon::kimmel

#pragma GCC diagnostic pop

#include "pixelops/geometry/perspective_correction.h"

#include <cmath>
#include <cstdlib>
#include <vector>

#include "core/busy_cursor.h"
#include "core/settings.h"
#include "kernels/sampling/remap_target.h"
#include "platform/parallel_bands.h"
#include "platform/parallel_chunks.h"

namespace astrelon {

namespace {

// The projective map along one axis. "Along" is the axis the lines run along
// (rows for the vertical case), "across" the other. Everything is in double.
struct TProjectiveMap {
  int32_t N = 0;         // extent along
  double Pole0 = 0;      // meeting coordinate of the lines
  double Ref = 0;        // the fixed edge: 0 or N
  double D0 = 0, DN = 0;  // spacing of the lines at 0 and at N
  double M0 = 0, MN = 0;  // their mid-line at 0 and at N
  double DRef = 0, MRef = 0;

  // Source coordinate along for output coordinate r; false when it lies
  // outside -0.5 < s < N.
  bool Along(int32_t r, double& s) const {
    const double t = r - (2 * Ref - Pole0);
    if (t == 0) return false;
    s = Pole0 - (Ref - Pole0) * (Ref - Pole0) / t;
    return s > -0.5 && s < N;
  }
  // Spacing and mid-line at source coordinate s.
  void Lines(double s, double& d, double& m) const {
    const double u = s / N;
    d = D0 + (DN - D0) * u;
    m = M0 + (MN - M0) * u;
  }
  // Source coordinate across for output coordinate c.
  double Across(int32_t c, double d, double m) const { return m + (c - MRef) * d / DRef; }
};

// Lines given as (along, across) end points.
TProjectiveMap MakeMap(double pa1, double qa1, double pa2, double qa2, double pb1, double qb1, double pb2,
                       double qb2, int32_t n, bool vertical) {
  double sA = (qa1 - qa2) / (pa1 - pa2);
  const double sB = (qb1 - qb2) / (pb1 - pb2);
  if (vertical ? sA == sB : std::fabs(sA - sB) < 1e-8) sA += 1e-8;
  TProjectiveMap m;
  m.N = n;
  const double a0 = qa1 - pa1 * sA;
  m.D0 = (qb1 - pb1 * sB) - a0;
  const double aN = qa1 + (n - pa1) * sA;
  m.DN = (qb1 + (n - pb1) * sB) - aN;
  m.Pole0 = -m.D0 / (sB - sA);
  m.Ref = m.Pole0 >= n / 2.0 ? 0 : n;
  m.M0 = a0 + m.D0 / 2;
  m.MN = aN + m.DN / 2;
  m.DRef = m.Ref == 0 ? m.D0 : m.DN;
  m.MRef = m.Ref == 0 ? m.M0 : m.MN;
  return m;
}

}  // namespace

TPerspectiveCase PerspectiveCase(const TGuideLine& a, const TGuideLine& b) {
  const int64_t dxA = std::llabs(int64_t(a.X1) - a.X2), dyA = std::llabs(int64_t(a.Y1) - a.Y2);
  const int64_t dxB = std::llabs(int64_t(b.X1) - b.X2), dyB = std::llabs(int64_t(b.Y1) - b.Y2);
  if (dxA < dyA && dxB < dyB) return TPerspectiveCase::Vertical;
  if (dyA < dxA && dyB < dxB) return TPerspectiveCase::Horizontal;
  return TPerspectiveCase::Unusable;
}

bool CorrectPerspective(int src, int dst, const TGuideLine& a, const TGuideLine& b) {
  const TPerspectiveCase kind = PerspectiveCase(a, b);
  if (kind == TPerspectiveCase::Unusable) return false;
  const std::optional<TRemapTarget> target = MakeRemapTarget(src, dst);
  if (!target) return false;
  const TRemapTarget& t = *target;
  TBusyCursorScope busy;
  const int32_t w = t.Width, h = t.Height;
  const int threads = BandThreads(int64_t(w) * h, int64_t(1) << 15, Options.Multicore != 0);

  if (kind == TPerspectiveCase::Vertical) {
    const TProjectiveMap map = MakeMap(a.Y1, a.X1, a.Y2, a.X2, b.Y1, b.X1, b.Y2, b.X2, h, true);
    ForEachChunk(h, 16, threads, [&](int64_t first, int64_t last) {
      for (int32_t r = int32_t(first); r < int32_t(last); ++r) {
        const size_t row = size_t(r) * size_t(w);
        double ys = 0, d = 0, m = 0;
        if (!map.Along(r, ys)) {
          for (int32_t c = 0; c < w; ++c) t.Blank(row + size_t(c));
          continue;
        }
        map.Lines(ys, d, m);
        for (int32_t c = 0; c < w; ++c) {
          const double xs = map.Across(c, d, m);
          if (xs >= 0 && xs < w)
            t.Sample(row + size_t(c), float(xs), float(ys));
          else
            t.Blank(row + size_t(c));
        }
      }
    });
    return true;
  }

  // Horizontal: each output column has its source column and its line spacing.
  const TProjectiveMap map = MakeMap(a.X1, a.Y1, a.X2, a.Y2, b.X1, b.Y1, b.X2, b.Y2, w, false);
  const size_t n = size_t(w);
  std::vector<double> xsOf(n), dOf(n), mOf(n);
  std::vector<uint8_t> used(n);
  for (int32_t c = 0; c < w; ++c) {
    double xs = 0;
    used[size_t(c)] = map.Along(c, xs);
    if (used[size_t(c)]) {
      xsOf[size_t(c)] = xs;
      map.Lines(xs, dOf[size_t(c)], mOf[size_t(c)]);
    }
  }
  ForEachChunk(h, 16, threads, [&](int64_t first, int64_t last) {
    for (int32_t r = int32_t(first); r < int32_t(last); ++r) {
      const size_t row = size_t(r) * size_t(w);
      for (int32_t c = 0; c < w; ++c) {
        const size_t i = row + size_t(c);
        if (!used[size_t(c)]) {
          t.Blank(i);
          continue;
        }
        const double ys = map.Across(r, dOf[size_t(c)], mOf[size_t(c)]);
        if (ys >= 0 && ys < h)
          t.Sample(i, float(xsOf[size_t(c)]), float(ys));
        else
          t.Blank(i);
      }
    }
  });
  return true;
}

}  // namespace astrelon

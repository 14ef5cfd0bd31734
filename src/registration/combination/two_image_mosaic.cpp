#include "registration/combination/two_image_mosaic.h"

#include <algorithm>
#include <cmath>

#include "core/busy_cursor.h"
#include "core/settings.h"
#include "kernels/regions/add_border.h"
#include "kernels/sampling/point_pair_transform.h"
#include "kernels/sampling/subpixel_samplers.h"
#include "platform/parallel_bands.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

std::vector<uint8_t> EdgeDistanceMask(std::span<const float> plane, int32_t width, int32_t height, bool borderIsEdge) {
  const size_t w = size_t(std::max(width, 0)), h = size_t(std::max(height, 0));
  std::vector<uint8_t> m(w * h);
  if (plane.size() < w * h) return m;
  for (size_t i = 0; i < w * h; ++i) m[i] = IsValidPixel(plane[i]) ? MosaicMaskCap : 0;
  if (borderIsEdge)
    for (size_t y = 0; y < h; ++y)
      for (size_t x = 0; x < w; ++x)
        if ((y == 0 || y + 1 == h || x == 0 || x + 1 == w) && m[y * w + x]) m[y * w + x] = 1;
  if (w < 3 || h < 3) return m;
  // Two sweeps of the city-block distance over the interior; the border keeps
  // its start values and feeds its neighbours.
  auto relax = [](uint8_t& d, uint8_t n) {
    if (n + 1 < d) d = uint8_t(n + 1);
  };
  for (size_t y = 1; y + 1 < h; ++y) {
    uint8_t* row = m.data() + y * w;
    const uint8_t* up = row - w;
    for (size_t x = 1; x + 1 < w; ++x) {
      relax(row[x], up[x]);
      relax(row[x], row[x - 1]);
    }
  }
  for (size_t y = h - 2; y >= 1; --y) {
    uint8_t* row = m.data() + y * w;
    const uint8_t* down = row + w;
    for (size_t x = w - 2; x >= 1; --x) {
      relax(row[x], down[x]);
      relax(row[x], row[x + 1]);
    }
  }
  return m;
}

TMosaicMargins MosaicMargins(int32_t tw, int32_t th, int32_t sw, int32_t sh, int32_t count, TFloatPoint a1,
                             TFloatPoint a2, TFloatPoint b1, TFloatPoint b2) {
  const TPointPairTransform t = PointPairTransform(count, a1, a2, b1, b2);
  const double det = t.A * t.A + t.B * t.B;
  TMosaicMargins m;
  if (!(det > 0)) return m;
  const double cx[4] = {0, double(sw) - 1, double(sw) - 1, 0}, cy[4] = {0, 0, double(sh) - 1, double(sh) - 1};
  auto margin = [](double v) { return int32_t(std::nearbyint(std::clamp(v, -1e9, 1e9))); };
  for (int k = 0; k < 4; ++k) {
    // The corner of the second image mapped back onto the target's grid.
    const double u = cx[k] - t.Tx, v = cy[k] - t.Ty;
    const double px = (t.A * u + t.B * v) / det, py = (-t.B * u + t.A * v) / det;
    m.Left = std::max(m.Left, margin(-px));
    m.Right = std::max(m.Right, margin(px - (tw - 1)));
    m.Top = std::max(m.Top, margin(-py));
    m.Bottom = std::max(m.Bottom, margin(py - (th - 1)));
  }
  return m;
}

namespace {

struct TPair {
  float T, S;
};

// Brightness match of the second image: S' = (S - MS) * G + MT.
struct TLevelMatch {
  double MS = 0, MT = 0, G = 1;
};

double Gain(std::span<const TPair> pairs, const TLevelMatch& m, double nT, double nS, double previous) {
  double sw = 0, swr = 0;
  for (const TPair& p : pairs) {
    const double ds = p.S - m.MS, dt = p.T - m.MT;
    if (std::abs(ds) > nS && std::abs(dt) > nT) {
      const double w = std::min(std::abs(ds), std::abs(dt));
      sw += w;
      swr += w * dt / ds;
    }
  }
  return sw > 0 ? swr / sw : previous;
}

TLevelMatch MatchLevels(std::span<const TPair> pairs, bool matchContrast, double nT, double nS) {
  TLevelMatch m;
  if (pairs.empty()) return m;
  double st = 0, ss = 0;
  for (const TPair& p : pairs) {
    st += p.T;
    ss += p.S;
  }
  m.MT = st / double(pairs.size());
  m.MS = ss / double(pairs.size());
  std::vector<float> d(pairs.size());
  if (!matchContrast) {
    for (size_t i = 0; i < pairs.size(); ++i) d[i] = pairs[i].S - pairs[i].T;
    m.MS = RobustMean(d) + m.MT;
    return m;
  }
  m.G = Gain(pairs, m, nT, nS, m.G);
  for (size_t i = 0; i < pairs.size(); ++i)
    d[i] = float((pairs[i].S - m.MS) * m.G + m.MT - pairs[i].T);
  m.MS = RobustMean(d) + m.MS;
  m.G = Gain(pairs, m, nT, nS, m.G);
  return m;
}

}  // namespace

void MakeMosaic(int target, int second, bool matchContrast, TFloatPoint a1, TFloatPoint a2, TFloatPoint b1,
                TFloatPoint b2, int32_t count) {
  if (PlaneView(target, 1).Empty() || PlaneView(second, 1).Empty()) return;
  TBusyCursorScope busy;
  const TImageSlot& S = Store.Image[size_t(second)];
  const int32_t tw = Store.Image[size_t(target)].Width, th = Store.Image[size_t(target)].Height;
  const int32_t sw = S.Width, sh = S.Height;
  const TPointPairTransform t = PointPairTransform(count, a1, a2, b1, b2);
  const TMosaicMargins mg = MosaicMargins(tw, th, sw, sh, count, a1, a2, b1, b2);
  const std::vector<uint8_t> maskS = EdgeDistanceMask(S.Planes[1], sw, sh, true);
  if (!AddBorder(target, mg.Top, mg.Bottom, mg.Left, mg.Right, BlankPixel)) return;
  TImageSlot& T = Store.Image[size_t(target)];
  const int32_t gw = T.Width, gh = T.Height;
  const std::vector<uint8_t> maskT = EdgeDistanceMask(T.Planes[1], gw, gh, false);
  SetKernelWindow(Settings.InterpolationKind);
  const TSamplingKind kind = CurrentSamplingKind();
  const bool multi = Options.Multicore != 0;
  const int planes = T.IsColor && T.PlaneCount >= 3 ? 3 : 1;
  auto sample = [&](const TPlaneView& v, double xs, double ys) {
    if (t.WholePixel) return v.At(int32_t(std::nearbyint(xs)), int32_t(std::nearbyint(ys)));
    return SamplePoint(v, kind, float(xs), float(ys));
  };
  for (int p = 1; p <= planes; ++p) {
    const int sp = S.IsColor && S.PlaneCount >= 3 ? p : 1;
    const TPlaneView sv = PlaneView(second, sp);
    float* tp = T.Planes[size_t(p)].data();
    // Pairs of the target's former area and the second image's samples, rows
    // in order whatever the split.
    const int statThreads = BandThreads(th, 16, multi);
    std::vector<std::vector<TPair>> bands(size_t(std::max(statThreads, 1)));
    const int64_t perBand = (int64_t(th) + statThreads - 1) / std::max(statThreads, 1);
    ForEachBand(statThreads, statThreads, [&](int64_t b0, int64_t b1e) {
      for (int64_t b = b0; b < b1e; ++b) {
        std::vector<TPair>& out = bands[size_t(b)];
        for (int64_t y = b * perBand; y < std::min<int64_t>(th, (b + 1) * perBand); ++y)
          for (int32_t x = 0; x < tw; ++x) {
            double xs, ys;
            t.Map(x, double(y), xs, ys);
            if (!(xs > 0 && ys > 0 && xs < sw - 1 && ys < sh - 1)) continue;
            const float tv = tp[size_t(y + mg.Top) * size_t(gw) + size_t(x + mg.Left)];
            if (!IsValidPixel(tv)) continue;
            const float s = sample(sv, xs, ys);
            if (IsValidPixel(s)) out.push_back({tv, s});
          }
      }
    });
    std::vector<TPair> pairs;
    for (auto& b : bands) pairs.insert(pairs.end(), b.begin(), b.end());
    bands.clear();
    double nT = 0, nS = 0;
    if (matchContrast) {
      nT = 2.0 * EstimatePlaneNoise(target, p);
      nS = 2.0 * EstimatePlaneNoise(second, sp);
    }
    const TLevelMatch lm = MatchLevels(pairs, matchContrast, nT, nS);
    pairs = {};
    ForEachBand(gh, BandThreads(gh, 16, multi), [&](int64_t y0, int64_t y1) {
      for (int64_t Y = y0; Y < y1; ++Y)
        for (int32_t X = 0; X < gw; ++X) {
          double xs, ys;
          t.Map(double(X - mg.Left), double(Y - mg.Top), xs, ys);
          if (!(xs > -0.01 && ys > -0.01 && xs < sw - 0.99 && ys < sh - 0.99)) continue;
          const float s = sample(sv, xs, ys);
          if (!IsValidPixel(s)) continue;
          const size_t i = size_t(Y) * size_t(gw) + size_t(X);
          const double s2 = (double(s) - lm.MS) * lm.G + lm.MT;
          const float tv = tp[i];
          if (!IsValidPixel(tv)) {
            tp[i] = float(s2);
            continue;
          }
          const int32_t mx = std::clamp(int32_t(std::nearbyint(xs)), 0, sw - 1);
          const int32_t my = std::clamp(int32_t(std::nearbyint(ys)), 0, sh - 1);
          const double wT = maskT[i], wS = maskS[size_t(my) * size_t(sw) + size_t(mx)];
          tp[i] = wT + wS > 0 ? float((tv * wT + s2 * wS) / (wT + wS)) : float(s2);
        }
    });
  }
}

}  // namespace astrelon

#include "registration/combination/two_image_mosaic.h"

#include <algorithm>
#include <cmath>
#include <memory>

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
  const int32_t gw = tw + mg.Left + mg.Right, gh = th + mg.Top + mg.Bottom;
  const size_t grown = size_t(gw) * size_t(gh);
  // The second image warped once onto the grown grid (blank where it does not
  // reach), and per grown pixel its mask weight at the nearest pixel (bits 0-6)
  // and whether the position lies far enough inside for the level statistics
  // (bit 7). Both are taken before the target grows, so that a canvas that
  // does not fit leaves it as it was.
  auto warped = std::make_unique_for_overwrite<float[]>(grown);
  auto weight = std::make_unique_for_overwrite<uint8_t[]>(grown);
  constexpr uint8_t Inside = 0x80, WeightBits = 0x7f;
  const std::vector<uint8_t> maskS = EdgeDistanceMask(S.Planes[1], sw, sh, true);
  if (!AddBorder(target, mg.Top, mg.Bottom, mg.Left, mg.Right, BlankPixel)) return;
  TImageSlot& T = Store.Image[size_t(target)];
  const std::vector<uint8_t> maskT = EdgeDistanceMask(T.Planes[1], gw, gh, false);
  SetKernelWindow(Settings.InterpolationKind);
  const TSamplingKind kind = CurrentSamplingKind();
  const bool multi = Options.Multicore != 0;
  const int threads = BandThreads(gh, 16, multi);
  const int planes = T.IsColor && T.PlaneCount >= 3 ? 3 : 1;
  auto sample = [&](const TPlaneView& v, double xs, double ys) {
    if (t.WholePixel) return v.At(int32_t(std::nearbyint(xs)), int32_t(std::nearbyint(ys)));
    return SamplePoint(v, kind, float(xs), float(ys));
  };
  for (int p = 1; p <= planes; ++p) {
    const int sp = S.IsColor && S.PlaneCount >= 3 ? p : 1;
    const TPlaneView sv = PlaneView(second, sp);
    float* tp = T.Planes[size_t(p)].data();
    ForEachBand(gh, threads, [&](int64_t y0, int64_t y1) {
      for (int64_t Y = y0; Y < y1; ++Y)
        for (int32_t X = 0; X < gw; ++X) {
          const size_t i = size_t(Y) * size_t(gw) + size_t(X);
          double xs, ys;
          t.Map(double(X - mg.Left), double(Y - mg.Top), xs, ys);
          if (!(xs > -0.01 && ys > -0.01 && xs < sw - 0.99 && ys < sh - 0.99)) {
            warped[i] = BlankPixel;
            weight[i] = 0;
            continue;
          }
          warped[i] = sample(sv, xs, ys);
          if (p > 1) continue;
          const int32_t mx = std::clamp(int32_t(std::nearbyint(xs)), 0, sw - 1);
          const int32_t my = std::clamp(int32_t(std::nearbyint(ys)), 0, sh - 1);
          const bool inside = xs > 0 && ys > 0 && xs < sw - 1 && ys < sh - 1;
          weight[i] = uint8_t(maskS[size_t(my) * size_t(sw) + size_t(mx)] | (inside ? Inside : 0));
        }
    });
    // Pairs of the target's former area and the second image's samples, rows
    // in order whatever the split: counted per band, then written in place.
    auto pairAt = [&](int64_t y, int32_t x, float& tv, float& s) {
      const size_t i = size_t(y + mg.Top) * size_t(gw) + size_t(x + mg.Left);
      tv = tp[i];
      s = warped[i];
      return (weight[i] & Inside) && IsValidPixel(tv) && IsValidPixel(s);
    };
    const int statThreads = BandThreads(th, 16, multi);
    std::vector<size_t> firstPair(size_t(statThreads) + 1, 0);
    ForEachBand(statThreads, statThreads, [&](int64_t b0, int64_t b1) {
      for (int64_t b = b0; b < b1; ++b) {
        size_t n = 0;
        float tv, s;
        for (int64_t y = th * b / statThreads; y < th * (b + 1) / statThreads; ++y)
          for (int32_t x = 0; x < tw; ++x) n += pairAt(y, x, tv, s) ? 1 : 0;
        firstPair[size_t(b) + 1] = n;
      }
    });
    for (int b = 0; b < statThreads; ++b) firstPair[size_t(b) + 1] += firstPair[size_t(b)];
    std::vector<TPair> pairs(firstPair.back());
    ForEachBand(statThreads, statThreads, [&](int64_t b0, int64_t b1) {
      for (int64_t b = b0; b < b1; ++b) {
        TPair* out = pairs.data() + firstPair[size_t(b)];
        float tv, s;
        for (int64_t y = th * b / statThreads; y < th * (b + 1) / statThreads; ++y)
          for (int32_t x = 0; x < tw; ++x)
            if (pairAt(y, x, tv, s)) *out++ = {tv, s};
      }
    });
    double nT = 0, nS = 0;
    if (matchContrast) {
      nT = 2.0 * EstimatePlaneNoise(target, p);
      nS = 2.0 * EstimatePlaneNoise(second, sp);
    }
    const TLevelMatch lm = MatchLevels(pairs, matchContrast, nT, nS);
    pairs = {};
    ForEachBand(gh, threads, [&](int64_t y0, int64_t y1) {
      for (size_t i = size_t(y0) * size_t(gw); i < size_t(y1) * size_t(gw); ++i) {
        const float s = warped[i];
        if (!IsValidPixel(s)) continue;
        const double s2 = (double(s) - lm.MS) * lm.G + lm.MT;
        const float tv = tp[i];
        if (!IsValidPixel(tv)) {
          tp[i] = float(s2);
          continue;
        }
        const double wT = maskT[i], wS = weight[i] & WeightBits;
        tp[i] = wT + wS > 0 ? float((tv * wT + s2 * wS) / (wT + wS)) : float(s2);
      }
    });
  }
}

}  // namespace astrelon

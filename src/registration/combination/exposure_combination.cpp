#include "registration/combination/exposure_combination.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr int Bins = 256;

// Base and range of one exposure: bin = Round((v - Base) * 255 / Range).
struct TRole {
  int Slot = 0;
  double Base = 0, Range = 1, Min = 0, Max = 0;
  double Scale = 255;  // 255 / Range
  int Bin(float v) const {
    const double b = std::clamp((double(v) - Base) * Scale, 0.0, 255.0);
    // Round half to even without a library call: adding and taking away 1.5 x
    // 2^52 leaves the nearest integer under the default rounding mode.
    constexpr double Magic = 6755399441055744.0;
    return int((b + Magic) - Magic);
  }
};

TRole RoleOf(int slot) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  TRole r;
  r.Slot = slot;
  r.Min = im.MinValue;
  r.Max = im.MaxValue;
  r.Base = r.Min - 0.1;
  r.Range = std::max(r.Max - r.Min, 0.1);
  return r;
}

struct TRatioSum {
  double Sum = 0;
  int64_t Count = 0;
};
struct TBinSums {
  std::array<double, Bins> Sum{};
  std::array<int64_t, Bins> Count{};
};

// Sums over rows in chunks of a fixed height, the chunks spread over the cores
// and added in their order: the same sums whatever the thread count.
template <typename T, typename F, typename A>
void SumOverChunks(int32_t rows, F&& sum, A&& add) {
  constexpr int32_t Chunk = 32;
  const int32_t chunks = (rows + Chunk - 1) / Chunk;
  std::vector<T> parts(size_t(std::max(chunks, 0)));
  ForEachBand(chunks, BandThreads(chunks, 2, Options.Multicore != 0), [&](int64_t c0, int64_t c1) {
    for (int64_t c = c0; c < c1; ++c)
      sum(int32_t(c * Chunk), int32_t(std::min<int64_t>(rows, (c + 1) * Chunk)), parts[size_t(c)]);
  });
  for (const T& p : parts) add(p);
}

}  // namespace

TExposureCalibration CombineExposures(int source, int result) {
  TExposureCalibration c;
  if (!SlotInUse(source) || !SlotInUse(result)) return c;
  UpdateMinMax(source);
  UpdateMinMax(result);
  const TImageSlot& A = Store.Image[size_t(source)];
  TImageSlot& B = Store.Image[size_t(result)];
  const int32_t w = std::min(A.Width, B.Width), h = std::min(A.Height, B.Height);
  if (w < 1 || h < 1 || A.Planes[1].size() < A.PixelCount() || B.Planes[1].size() < B.PixelCount()) return c;
  const bool colour = A.IsColor && B.IsColor && A.PlaneCount >= 3 && B.PlaneCount >= 3;
  const int planes = colour ? 3 : 1;
  auto at = [&](const TImageSlot& im, int p, int32_t x, int32_t y) {
    return im.Planes[size_t(p)][size_t(y) * size_t(im.Width) + size_t(x)];
  };

  // Which exposure is the long one: the mean ratio of the normalised levels.
  TRole src = RoleOf(source), res = RoleOf(result);
  double ratioSum = 0;
  int64_t ratioCount = 0;
  SumOverChunks<TRatioSum>(h, [&](int32_t y0, int32_t y1, TRatioSum& r) {
    for (int32_t y = y0; y < y1; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const float a = at(A, 1, x, y), b = at(B, 1, x, y);
        if (!IsValidPixel(a) || !IsValidPixel(b)) continue;
        r.Sum += ((a - src.Base) * res.Range) / ((b - res.Base) * src.Range);
        ++r.Count;
      }
  }, [&](const TRatioSum& r) {
    ratioSum += r.Sum;
    ratioCount += r.Count;
  });
  c.SourceIsLong = ratioCount > 0 && ratioSum / double(ratioCount) > 1;
  if (c.SourceIsLong)
    for (TRole* r : {&src, &res}) {
      r->Base = r->Min;
      r->Range += 0.01;
    }
  for (TRole* r : {&src, &res}) r->Scale = 255.0 / r->Range;
  const TRole& L = c.SourceIsLong ? src : res;
  const TRole& S = c.SourceIsLong ? res : src;
  const TImageSlot& Li = Store.Image[size_t(L.Slot)];
  const TImageSlot& Si = Store.Image[size_t(S.Slot)];

  // Mean of S - S.Base per bin of L, from S values clear of both ends.
  const int cp = colour ? 2 : 1;
  std::array<double, Bins> mean{};
  std::array<int64_t, Bins> count{};
  const double sLow = S.Min + 0.04 * S.Range, sHigh = S.Max - 0.04 * S.Range;
  SumOverChunks<TBinSums>(h, [&](int32_t y0, int32_t y1, TBinSums& t) {
    for (int32_t y = y0; y < y1; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const float l = at(Li, cp, x, y), s = at(Si, cp, x, y);
        if (!IsValidPixel(l) || !IsValidPixel(s) || !(s > sLow && s < sHigh)) continue;
        const size_t i = size_t(L.Bin(l));
        t.Sum[i] += s - S.Base;
        ++t.Count[i];
      }
  }, [&](const TBinSums& t) {
    for (size_t i = 0; i < Bins; ++i) {
      mean[i] += t.Sum[i];
      count[i] += t.Count[i];
    }
  });
  for (int i = 0; i < Bins; ++i)
    if (count[size_t(i)]) mean[size_t(i)] /= double(count[size_t(i)]);

  // Gain from the slopes between bins placed symmetrically about the middle.
  double sw = 0, sws = 0;
  for (int i = 25; i <= 100; ++i) {
    const double wgt = double(std::min(count[size_t(i)], count[size_t(255 - i)]));
    if (wgt <= 0) continue;
    sw += wgt;
    sws += wgt * (mean[size_t(255 - i)] - mean[size_t(i)]) / double(255 - 2 * i);
  }
  double k = 1;
  if (sw > 0) {
    k = L.Range / (sws / sw * 255.0);
    k = std::isfinite(k) ? std::clamp(k, 1.0, 50.0) : 1.0;
    if (!(k >= 1)) k = 1;  // a falling or flat slope
  }
  for (int i = 25; i <= 230; ++i) mean[size_t(i)] *= k;
  double so = 0, co = 0;
  for (int i = 25; i <= 230; ++i) {
    so += double(count[size_t(i)]) * (i * L.Range / 255.0 - mean[size_t(i)]);
    co += double(count[size_t(i)]);
  }
  const double o0 = co > 0 ? so / co : 0;
  // L - L.Base = k (S - S.Base) + o0, so L = (S + o) k with this o.
  c.Gain = k;
  c.Offset = (o0 + L.Base) / k - S.Base;

  // Weights: L fades out towards saturation, S fades in above its faint end.
  std::array<float, Bins> wL, wS;
  wL.fill(1.0f);
  wS.fill(1.0f);
  const int m = int(std::nearbyint(15.0 / k)) + 1, n = int(std::nearbyint(100.0 / k));
  for (int i = 255 - m; i <= 255; ++i) wL[size_t(i)] = 0;
  for (int j = 0; j <= n && n > 0; ++j) wL[size_t(255 - m - j)] = float(double(j) / n);
  const int q = int(std::nearbyint(std::nearbyint(255.0 / k) / 3.0));
  for (int i = 0; i < q; ++i) wS[size_t(i)] = 1e-5f;
  for (int j = 0; j <= q && q > 0; ++j) wS[size_t(q + j)] = float(1e-5 + (double(j) / q) * (double(j) / q));

  const double o = c.Offset;
  ForEachBand(h, BandThreads(h, 16, Options.Multicore != 0), [&](int64_t y0, int64_t y1) {
    for (int p = 1; p <= planes; ++p) {
      const float* lp = Li.Planes[size_t(p)].data();
      const float* sp = Si.Planes[size_t(p)].data();
      float* out = B.Planes[size_t(p)].data();
      for (int64_t y = y0; y < y1; ++y)
        for (int32_t x = 0; x < w; ++x) {
          const float l = lp[size_t(y) * size_t(Li.Width) + size_t(x)];
          const float s = sp[size_t(y) * size_t(Si.Width) + size_t(x)];
          if (!IsValidPixel(l) || !IsValidPixel(s)) continue;
          const double a = wL[size_t(L.Bin(l))], b = wS[size_t(S.Bin(s))];
          out[size_t(y) * size_t(B.Width) + size_t(x)] = float(((s + o) * k * b + l * a) / (a + b));
        }
    }
  });
  return c;
}

}  // namespace astrelon

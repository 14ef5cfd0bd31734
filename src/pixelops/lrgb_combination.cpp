#include "pixelops/lrgb_combination.h"

#include <algorithm>
#include <vector>

#include "core/settings.h"
#include "pixelops/value_arithmetic.h"
#include "platform/parallel_bands.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

// Pixels per block of the level sums: the blocks are summed in order, so the
// sums are the same for every thread count.
constexpr int64_t SumBlock = int64_t(1) << 16;
constexpr int64_t MinPixelsPerThread = int64_t(1) << 18;

int LoopThreads(size_t n) { return BandThreads(int64_t(n), MinPixelsPerThread, Options.Multicore != 0); }

float PlainPixel(double l, double lum, double c, const TLrgbParams& p) {
  const double s = l / lum;
  const double q = s / p.K;
  const double w = 1.0 / (0.8888888888 + q * q);
  const double x = (c - lum) * w + lum;
  return x <= 0 ? 0.0f : float(s * x);
}

float AutoPixel(double l, double lum, double c, const TLrgbParams& p) {
  const double d = l - double(p.LowL);
  const double r = 0.3333333333333 * d / (lum * p.K);
  const double w = 1.1 * (lum / (lum + p.Noise2)) / (0.8888888888888 + r * r);
  const double s = d / lum;
  const double x = (c - lum) * w + lum;
  const float v = x <= 0 ? p.LowL : float(s * x + double(p.LowL));
  return std::max(v, p.FloorL);
}

// The 0.1 % level of a whole plane.
double LowLevel(int slot, int plane) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  TPercentileLevels levels;
  GetPercentileLevels(slot, plane, 0, im.Width - 1, 0, im.Height - 1, 0.1, 99.9, levels);
  return levels.LevelA;
}

// Subtracts `value` from every valid pixel of the first `planes` planes of a slot.
void SubtractFromImage(int slot, float value, int planes) {
  const TWorkRect saved = WorkRect;
  SetWorkRectToImage(slot);
  AddValuesToRect(slot, -value, planes > 1 ? -value : 0.0f, planes > 2 ? -value : 0.0f);
  WorkRect = saved;
}

}  // namespace

void LrgbRun(std::span<const float> l, std::span<const float> lum, const std::array<std::span<float>, 3>& c,
             const TLrgbParams& params) {
  size_t n = std::min(l.size(), lum.size());
  for (const auto& plane : c) n = std::min(n, plane.size());
  ForEachBand(int64_t(n), LoopThreads(n), [&](int64_t first, int64_t last) {
    float* c1 = c[0].data();
    float* c2 = c[1].data();
    float* c3 = c[2].data();
    for (size_t i = size_t(first); i < size_t(last); ++i) {
      const float li = l[i], lumi = lum[i];
      if (!(lumi > params.Threshold) || !(li > params.LowL)) {
        // Grey: L in every plane; a blank L stays blank.
        const float g = params.AutoScaled && IsValidPixel(li) ? std::max(li, params.FloorL) : li;
        c1[i] = c2[i] = c3[i] = g;
        continue;
      }
      for (float* plane : {c1, c2, c3}) {
        const float v = plane[i];
        if (!IsValidPixel(v)) continue;
        plane[i] = params.AutoScaled ? AutoPixel(li, lumi, v, params) : PlainPixel(li, lumi, v, params);
      }
    }
  });
}

double LrgbLevelRatio(std::span<const float> l, std::span<const float> lum, const TLrgbParams& params,
                      double factor) {
  const size_t n = std::min(l.size(), lum.size());
  const int64_t blocks = (int64_t(n) + SumBlock - 1) / SumBlock;
  std::vector<double> sumL(size_t(blocks), 0.0), sumLum(size_t(blocks), 0.0);
  ForEachBand(blocks, LoopThreads(n), [&](int64_t first, int64_t last) {
    for (int64_t b = first; b < last; ++b) {
      double sl = 0, slum = 0;
      const size_t end = std::min(n, size_t(b + 1) * size_t(SumBlock));
      for (size_t i = size_t(b) * size_t(SumBlock); i < end; ++i)
        if (lum[i] > params.Threshold && l[i] > params.LowL) {
          sl += double(l[i]) - double(params.LowL);
          slum += double(lum[i]);
        }
      sumL[size_t(b)] = sl;
      sumLum[size_t(b)] = slum;
    }
  });
  double sl = 0, slum = 0;
  for (size_t b = 0; b < size_t(blocks); ++b) {
    sl += sumL[b];
    slum += sumLum[b];
  }
  const double k = slum <= 0 ? 1.0 : factor * sl / slum;
  return std::max(k, 1e-10);
}

bool CombineLrgb(int result, int luminance, int lImage, bool autoScaled) {
  if (!SlotInUse(result) || !SlotInUse(luminance) || !SlotInUse(lImage)) return false;
  TImageSlot& res = Store.Image[size_t(result)];
  if (res.PlaneCount < 3) return false;
  const TPlane& lp = Store.Image[size_t(lImage)].Planes[1];
  const TPlane& lump = Store.Image[size_t(luminance)].Planes[1];
  size_t n = std::min(res.Planes[1].size(), lp.size());
  for (int p = 2; p <= 3; ++p) n = std::min(n, res.Planes[size_t(p)].size());
  if (lump.size() < n) return false;
  TLrgbParams params;
  params.AutoScaled = autoScaled;
  if (autoScaled) {
    params.Noise2 = 2.0 * double(EstimatePlaneNoise(luminance, 1));
    params.Threshold = float(std::max(1.5 * params.Noise2, 0.001));
    double level = LowLevel(result, 1);
    for (int p = 2; p <= 3; ++p) level = std::min(level, LowLevel(result, p));
    const float background = float(level - double(params.Threshold));
    SubtractFromImage(result, background, 3);
    SubtractFromImage(luminance, background, 1);
    const double noiseL = double(EstimatePlaneNoise(lImage, 1));
    params.LowL = float(LowLevel(lImage, 1) + noiseL);
    params.FloorL = float(double(params.LowL) - 3.0 * noiseL);
  } else {
    params.Threshold = std::max(0.5f * EstimatePlaneNoise(luminance, 1), 0.003f);
  }
  const std::span<const float> l(lp.data(), n), lum(lump.data(), n);
  params.K = LrgbLevelRatio(l, lum, params, autoScaled ? 1.0 : 3.0);
  LrgbRun(l, lum, {res.Plane(1).first(n), res.Plane(2).first(n), res.Plane(3).first(n)}, params);
  return true;
}

}  // namespace astrelon

#include "pixelops/colour/lrgb_combination.h"

#include <algorithm>
#include <vector>

#include "core/settings.h"
#include "kernels/regions/value_arithmetic.h"
#include "platform/parallel_bands.h"
#include "platform/simd_support.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

// Pixels per block of the level sums: the blocks are summed in order, so the
// sums are the same for every thread count.
constexpr int64_t SumBlock = int64_t(1) << 16;
constexpr int64_t MinPixelsPerThread = int64_t(1) << 18;

int LoopThreads(size_t n) { return BandThreads(int64_t(n), MinPixelsPerThread, Options.Multicore != 0); }

// The per-pixel constants of both formulas in one form, in single precision:
// w = (a1 lum + a0) / ((b1 lum + b0) (c + (s rk)^2)), the result for x <= 0
// `low`, else s x + low, at least `floor`.
struct TPixelForm {
  float A1, A0, B1, B0, C, Rk, Low, Floor;
};

TPixelForm PixelForm(const TLrgbParams& p) {
  if (p.AutoScaled)
    return {1.1f,         0.0f, 1.0f, float(p.Noise2), 0.8888888888888f, float(0.3333333333333 / p.K),
            float(p.LowL), p.FloorL};
  return {0.0f, 1.0f, 0.0f, 1.0f, 0.8888888888f, float(1.0 / p.K), 0.0f, -3.0e38f};
}

struct TLrgbRow {
  const float* L;
  const float* Lum;
  std::array<float*, 3> C;
};

// One pixel; the vector path below gives the same bits.
inline void LrgbPixel(const TLrgbRow& row, const TLrgbParams& p, const TPixelForm& f, size_t i) {
  const float li = row.L[i], m = row.Lum[i];
  if (!(m > p.Threshold) || !(li > p.LowL)) {
    // Grey: L in every plane; a blank L stays blank.
    const float g = p.AutoScaled && IsValidPixel(li) ? std::max(li, f.Floor) : li;
    for (float* plane : row.C) plane[i] = g;
    return;
  }
  const float s = (li - f.Low) / m;
  const float r = s * f.Rk;
  const float w = (f.A1 * m + f.A0) / ((f.B1 * m + f.B0) * (f.C + r * r));
  for (float* plane : row.C) {
    const float v = plane[i];
    if (!IsValidPixel(v)) continue;
    const float x = (v - m) * w + m;
    const float y = x <= 0 ? f.Low : s * x + f.Low;
    plane[i] = y < f.Floor ? f.Floor : y;
  }
}

#if ASTRELON_HAVE_AVX2
// Pixels first.. in eights, the same operations in the same order as LrgbPixel
// (no fused multiply-add); returns the first pixel left for the plain path.
ASTRELON_AVX2 size_t LrgbPixelsAvx2(const TLrgbRow& row, const TLrgbParams& p, const TPixelForm& f, size_t first,
                                    size_t last) {
  const __m256 a1 = _mm256_set1_ps(f.A1), a0 = _mm256_set1_ps(f.A0), b1 = _mm256_set1_ps(f.B1),
               b0 = _mm256_set1_ps(f.B0), cc = _mm256_set1_ps(f.C), rk = _mm256_set1_ps(f.Rk),
               low = _mm256_set1_ps(f.Low), floor = _mm256_set1_ps(f.Floor), zero = _mm256_setzero_ps(),
               thr = _mm256_set1_ps(p.Threshold), lowL = _mm256_set1_ps(p.LowL),
               blank = _mm256_set1_ps(BlankLimit);
  const __m256 clampGrey = p.AutoScaled ? _mm256_castsi256_ps(_mm256_set1_epi32(-1)) : zero;
  size_t i = first;
  for (; i + 8 <= last; i += 8) {
    const __m256 l = _mm256_loadu_ps(row.L + i), m = _mm256_loadu_ps(row.Lum + i);
    // Colour where lum > thr and L > LowL, else grey.
    const __m256 colour = _mm256_and_ps(_mm256_cmp_ps(m, thr, _CMP_GT_OQ), _mm256_cmp_ps(l, lowL, _CMP_GT_OQ));
    const __m256 lClamped = _mm256_blendv_ps(l, floor, _mm256_cmp_ps(l, floor, _CMP_LT_OQ));
    const __m256 grey = _mm256_blendv_ps(l, lClamped, _mm256_and_ps(clampGrey, _mm256_cmp_ps(l, blank, _CMP_GT_OQ)));
    const __m256 s = _mm256_div_ps(_mm256_sub_ps(l, low), m);
    const __m256 r = _mm256_mul_ps(s, rk);
    const __m256 w = _mm256_div_ps(_mm256_add_ps(_mm256_mul_ps(a1, m), a0),
                                   _mm256_mul_ps(_mm256_add_ps(_mm256_mul_ps(b1, m), b0),
                                                 _mm256_add_ps(cc, _mm256_mul_ps(r, r))));
    for (float* plane : row.C) {
      const __m256 v = _mm256_loadu_ps(plane + i);
      const __m256 x = _mm256_add_ps(_mm256_mul_ps(_mm256_sub_ps(v, m), w), m);
      __m256 y = _mm256_blendv_ps(_mm256_add_ps(_mm256_mul_ps(s, x), low), low, _mm256_cmp_ps(x, zero, _CMP_LE_OQ));
      y = _mm256_blendv_ps(y, floor, _mm256_cmp_ps(y, floor, _CMP_LT_OQ));
      // A blank colour value stays; a grey pixel takes the grey value.
      y = _mm256_blendv_ps(v, y, _mm256_cmp_ps(v, blank, _CMP_GT_OQ));
      _mm256_storeu_ps(plane + i, _mm256_blendv_ps(grey, y, colour));
    }
  }
  return i;
}
#endif

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
  const TLrgbRow row{l.data(), lum.data(), {c[0].data(), c[1].data(), c[2].data()}};
  const TPixelForm f = PixelForm(params);
  const bool vector = Avx2Enabled && CpuHasAvx2();
  ForEachBand(int64_t(n), LoopThreads(n), [&](int64_t first, int64_t last) {
    size_t i = size_t(first);
#if ASTRELON_HAVE_AVX2
    if (vector) i = LrgbPixelsAvx2(row, params, f, i, size_t(last));
#endif
    for (; i < size_t(last); ++i) LrgbPixel(row, params, f, i);
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

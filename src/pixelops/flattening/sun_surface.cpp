#include "pixelops/flattening/sun_surface.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "common/pascal_format.h"
#include "core/settings.h"
#include "kernels/regions/rect_runs.h"
#include "kernels/sampling/pixel_access.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

namespace {

constexpr int Limb = 199;        // profile index of the disc's edge
constexpr double Fade = 204.0;   // relative radius where the sky outside has faded to 0

struct TSemiAxes {
  double X, Y;
};
// A semi-axis below one pixel is taken as one (the profile divides by it).
TSemiAxes SemiAxes(const TBrightDisc& disc) {
  const double ax = disc.RightEdge - double(disc.CentreX);
  const double ay = disc.BottomEdge - double(disc.CentreY);
  return {ax >= 1.0 ? ax : 1.0, ay >= 1.0 ? ay : 1.0};
}

#if ASTRELON_HAVE_AVX2
// Eight pixels at a time, the same operations as the scalar loop; returns the
// number of pixels done.
ASTRELON_AVX2 size_t SunSurfaceFactorsAvx2(std::span<const float> columnTerm, float rowTerm,
                                           const TSunFactorTable& t, std::span<float> factor) {
  const __m256 row = _mm256_set1_ps(rowTerm), limb = _mm256_set1_ps(float(Limb));
  const __m256 one = _mm256_set1_ps(1.0f), floor = _mm256_set1_ps(0.001f), zero = _mm256_setzero_ps();
  const __m256 centre = _mm256_set1_ps(t.Centre), outside = _mm256_set1_ps(t.Outside);
  const __m256 fade = _mm256_set1_ps(float(Fade)), fifth = _mm256_set1_ps(0.2f);
  size_t x = 0;
  for (; x + 8 <= factor.size(); x += 8) {
    const __m256 r = _mm256_sqrt_ps(_mm256_add_ps(_mm256_loadu_ps(columnTerm.data() + x), row));
    const __m256 inside = _mm256_cmp_ps(r, limb, _CMP_LT_OQ);
    // Pixels beyond the limb look up ring 0 (their result is not taken).
    const __m256 ri = _mm256_and_ps(r, inside);
    const __m256i k = _mm256_cvttps_epi32(ri);
    const __m256 frac = _mm256_sub_ps(ri, _mm256_cvtepi32_ps(k));
    const __m256 s0 = _mm256_i32gather_ps(t.Profile.data(), k, 4);
    const __m256 s1 = _mm256_i32gather_ps(t.Profile.data() + 1, k, 4);
    __m256 f = _mm256_add_ps(_mm256_mul_ps(s0, _mm256_sub_ps(one, frac)), _mm256_mul_ps(s1, frac));
    f = _mm256_blendv_ps(f, floor, _mm256_cmp_ps(f, floor, _CMP_LT_OQ));
    const __m256 in = _mm256_div_ps(centre, f);
    __m256 w = _mm256_mul_ps(_mm256_sub_ps(fade, r), fifth);
    w = _mm256_blendv_ps(w, zero, _mm256_cmp_ps(w, zero, _CMP_LT_OQ));
    const __m256 out = _mm256_mul_ps(outside, w);
    _mm256_storeu_ps(factor.data() + x, _mm256_blendv_ps(out, in, inside));
  }
  return x;
}
#endif

// Multiplies each valid pixel by its factor; blank pixels stay as they are.
void ScaleValidPixels(std::span<float> row, std::span<const float> factor, bool vector) {
  size_t x = 0;
#if ASTRELON_HAVE_SSE2
  if (vector) {
    const __m128 limit = _mm_set1_ps(BlankLimit);
    for (; x + 4 <= row.size(); x += 4) {
      const __m128 v = _mm_loadu_ps(row.data() + x);
      const __m128 valid = _mm_cmpgt_ps(v, limit);
      const __m128 scaled = _mm_mul_ps(v, _mm_loadu_ps(factor.data() + x));
      _mm_storeu_ps(row.data() + x, _mm_or_ps(_mm_and_ps(valid, scaled), _mm_andnot_ps(valid, v)));
    }
  }
#endif
  for (; x < row.size(); ++x)
    if (IsValidPixel(row[x])) row[x] *= factor[x];
}

}  // namespace

std::optional<std::array<double, 206>> SunSurfaceProfile(int slot, const TBrightDisc& disc) {
  if (!SlotInUse(slot)) return std::nullopt;
  const int plane = GetRgbCode(slot);
  const TSemiAxes axes = SemiAxes(disc);
  std::array<double, 206> raw{};
  std::array<uint8_t, Limb + 1> measured{};
  // The rings are independent: they are measured on all cores (the samples lie
  // scattered over the image, so most reads wait for memory).
  const TImageSlot& im = Store.Image[size_t(slot)];
  const int threads = BandThreads(Limb, 8, Options.Multicore != 0 && im.PixelCount() >= (size_t(1) << 20));
  ForEachBand(Limb, threads, [&](int64_t first, int64_t last) {
    std::vector<float> samples;
    for (int k = int(first) + 1; k <= int(last); ++k) {
      const int n = std::min(k * k + 30, 300);
      samples.clear();
      for (int j = 0; j <= n; ++j) {
        const double a = 2.0 * j * std::numbers::pi / n;
        const double x = std::sin(a) * k * axes.X / Limb + disc.CentreX;
        const double y = std::cos(a) * k * axes.Y / Limb + disc.CentreY;
        const float v = GetPixelValue(slot, plane, Round32(x), Round32(y));
        if (IsValidPixel(v)) samples.push_back(v);
      }
      if (!samples.empty()) {
        raw[size_t(k)] = Percentile(samples, 0.6);
        measured[size_t(k)] = 1;
      }
    }
  });
  int first = 0;
  for (int k = 1; k <= Limb && first == 0; ++k)
    if (measured[size_t(k)]) first = k;
  if (first == 0) return std::nullopt;
  int inner = 0;
  for (int k = 1; k <= Limb; ++k) {
    if (measured[size_t(k)]) inner = k;
    else raw[size_t(k)] = raw[size_t(inner > 0 ? inner : first)];
  }

  raw[0] = raw[1];
  for (int k = Limb + 1; k <= 205; ++k) raw[size_t(k)] = raw[Limb];
  std::array<double, 206> s = raw;
  for (int k = 201; k <= 205; ++k) s[size_t(k)] = s[200];
  for (int g = 1; g <= 4; ++g) {
    const double d = g + 4;
    for (int i = 1; i <= 200 - g; ++i) s[size_t(i)] = (raw[size_t(i + g)] / d + s[size_t(i)]) / (1.0 / d + 1.0);
    for (int i = g; i <= Limb; ++i) s[size_t(i)] = (raw[size_t(i - g)] / 7.0 + s[size_t(i)]) / 1.1428571428571428;
  }
  return s;
}

TSunFactorTable MakeSunFactorTable(const std::array<double, 206>& profile) {
  TSunFactorTable t;
  for (size_t i = 0; i < profile.size(); ++i) t.Profile[i] = float(profile[i]);
  t.Centre = float(profile[0]);
  // The limb's divisor gets the same floor as the divisors inside.
  t.Outside = float(profile[0] / std::max(profile[Limb], 0.001));
  return t;
}

void SunSurfaceFactors(std::span<const float> columnTerm, float rowTerm, const TSunFactorTable& t,
                       std::span<float> factor, bool vector) {
  size_t x = 0;
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) x = SunSurfaceFactorsAvx2(columnTerm, rowTerm, t, factor);
#else
  (void)vector;
#endif
  for (; x < factor.size(); ++x) {
    const float r = std::sqrt(columnTerm[x] + rowTerm);
    if (r < float(Limb)) {
      const int32_t k = int32_t(r);
      const float frac = r - float(k);
      float f = t.Profile[size_t(k)] * (1.0f - frac) + t.Profile[size_t(k) + 1] * frac;
      if (f < 0.001f) f = 0.001f;
      factor[x] = t.Centre / f;
    } else {
      float w = (float(Fade) - r) * 0.2f;
      if (w < 0.0f) w = 0.0f;
      factor[x] = t.Outside * w;
    }
  }
}

bool FlattenSunSurface(int slot, const TBrightDisc& disc) {
  if (!std::isfinite(disc.CentreX) || !std::isfinite(disc.CentreY)) return false;
  const auto profile = SunSurfaceProfile(slot, disc);
  if (!profile) return false;
  TImageSlot& im = Store.Image[size_t(slot)];
  std::vector<int32_t> planes;
  const TPlaneList selected = SelectedChannels(slot);
  for (int32_t p : selected.Planes())
    if (im.Planes[size_t(p)].size() >= im.PixelCount()) planes.push_back(p);
  if (planes.empty() || im.Width < 1 || im.Height < 1) return true;

  const TSunFactorTable table = MakeSunFactorTable(*profile);
  const TSemiAxes axes = SemiAxes(disc);
  // Squared relative distances along a row and down a column.
  std::vector<float> columnTerm(size_t(im.Width));
  for (int32_t x = 0; x < im.Width; ++x) {
    const double d = (x - double(disc.CentreX)) * Limb / axes.X;
    columnTerm[size_t(x)] = float(d * d);
  }
  const bool vector = Sse2Enabled;
  const TClippedRect whole{0, im.Width - 1, 0, im.Height - 1};
  const int threads = RectRunThreads(whole, int(planes.size()));
  ForEachBand(im.Height, threads, [&](int64_t firstRow, int64_t lastRow) {
    std::vector<float> factor(size_t(im.Width));
    for (int64_t y = firstRow; y < lastRow; ++y) {
      const double dy = (double(y) - double(disc.CentreY)) * Limb / axes.Y;
      SunSurfaceFactors(columnTerm, float(dy * dy), table, factor, vector);
      for (int32_t p : planes) {
        ScaleValidPixels(im.Row(p, int(y)), factor, vector);
      }
    }
  });
  return true;
}

}  // namespace astrelon

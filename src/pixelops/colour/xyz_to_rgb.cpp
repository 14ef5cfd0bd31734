#include "pixelops/colour/xyz_to_rgb.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "store/color_models.h"
#include "store/image_store.h"
#include "store/planes/pixel_blocks.h"

// GCC 12 reports the undefined upper half that _mm512_cvtps_pd starts from as
// possibly uninitialised; it is overwritten.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace astrelon {

namespace {

// XYZ to linear sRGB (D65).
constexpr double SrgbMatrix[3][3] = {
    {3.240479, -1.53715, -0.498535}, {-0.969256, 1.875992, 0.041556}, {0.055648, -0.204043, 1.057311}};
// The D65 white point the normalised X and Z are scaled to.
constexpr double WhiteX = 0.95047, WhiteZ = 1.08883;

// The sRGB matrix with the normalisation (X - b) · white / r folded into its columns.
using TXyzMatrix = std::array<std::array<double, 3>, 3>;
TXyzMatrix NormalisedMatrix(double r) {
  const double k[3] = {WhiteX / r, 1.0 / r, WhiteZ / r};
  TXyzMatrix m{};
  for (size_t i = 0; i < 3; ++i)
    for (size_t j = 0; j < 3; ++j) m[i][j] = SrgbMatrix[i][j] * k[j];
  return m;
}

void XyzScalar(float* px, float* py, float* pz, size_t n, const TXyzMatrix& m, double b, double r) {
  float* out[3] = {px, py, pz};
  for (size_t i = 0; i < n; ++i) {
    if (!IsValidPixel(px[i]) || !IsValidPixel(py[i]) || !IsValidPixel(pz[i])) continue;
    const double dx = double(px[i]) - b, dy = double(py[i]) - b, dz = double(pz[i]) - b;
    for (size_t c = 0; c < 3; ++c) {
      const double lin = m[c][0] * dx + m[c][1] * dy + m[c][2] * dz;
      // Positive components are compressed by the square root; the others stay.
      out[c][i] = float((lin > 0 ? std::sqrt(lin) : lin) * r + b);
    }
  }
}

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 size_t XyzAvx2(float* px, float* py, float* pz, size_t n, const TXyzMatrix& m, double b, double r) {
  __m256d c[3][3];
  for (size_t i = 0; i < 3; ++i)
    for (size_t j = 0; j < 3; ++j) c[i][j] = _mm256_set1_pd(m[i][j]);
  const __m256d vb = _mm256_set1_pd(b), vr = _mm256_set1_pd(r), zero = _mm256_setzero_pd();
  const __m128 lim = _mm_set1_ps(BlankLimit);
  float* out[3] = {px, py, pz};
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128 x = _mm_loadu_ps(px + i), y = _mm_loadu_ps(py + i), z = _mm_loadu_ps(pz + i);
    const __m128 valid = _mm_and_ps(_mm_and_ps(_mm_cmpgt_ps(x, lim), _mm_cmpgt_ps(y, lim)), _mm_cmpgt_ps(z, lim));
    const __m256d dx = _mm256_sub_pd(_mm256_cvtps_pd(x), vb), dy = _mm256_sub_pd(_mm256_cvtps_pd(y), vb),
                  dz = _mm256_sub_pd(_mm256_cvtps_pd(z), vb);
    const __m128 old[3] = {x, y, z};
    for (size_t k = 0; k < 3; ++k) {
      const __m256d lin = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(c[k][0], dx), _mm256_mul_pd(c[k][1], dy)),
                                        _mm256_mul_pd(c[k][2], dz));
      const __m256d v = _mm256_blendv_pd(lin, _mm256_sqrt_pd(lin), _mm256_cmp_pd(lin, zero, _CMP_GT_OQ));
      const __m128 f = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_mul_pd(v, vr), vb));
      _mm_storeu_ps(out[k] + i, _mm_or_ps(_mm_and_ps(valid, f), _mm_andnot_ps(valid, old[k])));
    }
  }
  return i;
}

// Eight pixels at a time in double lanes: the AVX2 loop's operations lane for lane.
ASTRELON_AVX512 size_t XyzAvx512(float* px, float* py, float* pz, size_t n, const TXyzMatrix& m, double b,
                                       double r) {
  __m512d c[3][3];
  for (size_t i = 0; i < 3; ++i)
    for (size_t j = 0; j < 3; ++j) c[i][j] = _mm512_set1_pd(m[i][j]);
  const __m512d vb = _mm512_set1_pd(b), vr = _mm512_set1_pd(r), zero = _mm512_setzero_pd();
  const __m256 lim = _mm256_set1_ps(BlankLimit);
  float* out[3] = {px, py, pz};
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256 x = _mm256_loadu_ps(px + i), y = _mm256_loadu_ps(py + i), z = _mm256_loadu_ps(pz + i);
    const __m256 valid = _mm256_and_ps(_mm256_and_ps(_mm256_cmp_ps(x, lim, _CMP_GT_OQ), _mm256_cmp_ps(y, lim, _CMP_GT_OQ)),
                                       _mm256_cmp_ps(z, lim, _CMP_GT_OQ));
    const __m512d dx = _mm512_sub_pd(_mm512_cvtps_pd(x), vb), dy = _mm512_sub_pd(_mm512_cvtps_pd(y), vb),
                  dz = _mm512_sub_pd(_mm512_cvtps_pd(z), vb);
    const __m256 old[3] = {x, y, z};
    for (size_t k = 0; k < 3; ++k) {
      const __m512d lin = _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(c[k][0], dx), _mm512_mul_pd(c[k][1], dy)),
                                        _mm512_mul_pd(c[k][2], dz));
      const __m512d v = _mm512_mask_sqrt_pd(lin, _mm512_cmp_pd_mask(lin, zero, _CMP_GT_OQ), lin);
      const __m256 f = _mm512_cvtpd_ps(_mm512_add_pd(_mm512_mul_pd(v, vr), vb));
      _mm256_storeu_ps(out[k] + i, _mm256_blendv_ps(old[k], f, valid));
    }
  }
  return i;
}
#endif

// The display point v under the same mapping; a point below b maps to b.
float MapDisplayPoint(float v, double b, double r) {
  return float(std::sqrt(std::max(0.0, (double(v) - b) / r)) * r + b);
}

}  // namespace

void XyzToRgbRun(std::span<float> x, std::span<float> y, std::span<float> z, double b, double r, bool vector) {
  CheckSameLength(x.size(), y.size(), z.size());
  const TXyzMatrix m = NormalisedMatrix(r);
  size_t done = 0;
#if ASTRELON_HAVE_AVX2
  if (UseAvx512(vector))
    done = XyzAvx512(x.data(), y.data(), z.data(), x.size(), m, b, r);
  else if (UseAvx2(vector))
    done = XyzAvx2(x.data(), y.data(), z.data(), x.size(), m, b, r);
#else
  (void)vector;
#endif
  XyzScalar(x.data() + done, y.data() + done, z.data() + done, x.size() - done, m, b, r);
}

bool ConvertXyzToRgb(int slot, bool adjustDisplay) {
  if (!HasColourPlanes(slot)) return false;
  TImageSlot& im = Store.Image[slot];
  const double b = std::min(double(im.MinValue), 0.0);
  const double r = double(im.MaxValue) - b;
  if (!(r > 0)) return false;
  const bool vector = Sse2Enabled;
  const auto scans = TransformPixelBlocks(im, 3, [&](size_t first, size_t count) {
    XyzToRgbRun(im.Plane(1).subspan(first, count), im.Plane(2).subspan(first, count),
                im.Plane(3).subspan(first, count), b, r, vector);
  });
  SetMinMaxFromScans(slot, scans);
  TDisplayRecord& d = Store.Display[slot];
  if (adjustDisplay) {
    if (double(d.Black) > b) d.Black = MapDisplayPoint(d.Black, b, r);
    d.White = MapDisplayPoint(d.White, b, r);
  }
  im.ColorModel = CmRgb;
  d.DisplayType = DtColorRgb;
  SetCtype3Card(slot);
  return true;
}

}  // namespace astrelon

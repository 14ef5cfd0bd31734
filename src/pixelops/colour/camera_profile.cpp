#include "pixelops/colour/camera_profile.h"

#include <string>

#include "common/engine_ui.h"
#include "core/language.h"
#include "pixelops/colour/xyz_to_rgb.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "store/color_models.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/planes/pixel_blocks.h"

// GCC 12 reports the undefined upper half that _mm512_cvtps_pd starts from as
// possibly uninitialised; it is overwritten.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace astrelon {

namespace {

constexpr int KeyNeedsColour = LangKey(4, 27);
constexpr int KeyUnknownCamera = LangKey(9, 28);

inline float MatrixRow(const std::array<double, 3>& m, float r, float g, float b) {
  return float(m[0] * double(r) + m[1] * double(g) + m[2] * double(b));
}

void MatrixScalar(float* r, float* g, float* b, size_t n, const TMatrix3& m) {
  for (size_t i = 0; i < n; ++i) {
    if (!IsValidPixel(r[i]) || !IsValidPixel(g[i]) || !IsValidPixel(b[i])) {
      r[i] = g[i] = b[i] = BlankPixel;
      continue;
    }
    const float r2 = MatrixRow(m[0], r[i], g[i], b[i]);
    const float g2 = MatrixRow(m[1], r[i], g[i], b[i]);
    const float b2 = MatrixRow(m[2], r[i], g[i], b[i]);
    r[i] = r2;
    g[i] = g2;
    b[i] = b2;
  }
}

#if ASTRELON_HAVE_SSE2
// Two pixels of one output row in double lanes, in the scalar path's order.
inline __m128d RowPair(const __m128d (&m)[3], __m128d r, __m128d g, __m128d b) {
  return _mm_add_pd(_mm_add_pd(_mm_mul_pd(m[0], r), _mm_mul_pd(m[1], g)), _mm_mul_pd(m[2], b));
}

size_t MatrixSse2(float* pr, float* pg, float* pb, size_t n, const TMatrix3& m) {
  __m128d c[3][3];
  for (size_t i = 0; i < 3; ++i)
    for (size_t j = 0; j < 3; ++j) c[i][j] = _mm_set1_pd(m[i][j]);
  const __m128 lim = _mm_set1_ps(BlankLimit), blank = _mm_set1_ps(BlankPixel);
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128 r = _mm_loadu_ps(pr + i), g = _mm_loadu_ps(pg + i), b = _mm_loadu_ps(pb + i);
    const __m128 valid = _mm_and_ps(_mm_and_ps(_mm_cmpgt_ps(r, lim), _mm_cmpgt_ps(g, lim)), _mm_cmpgt_ps(b, lim));
    const __m128d rl = _mm_cvtps_pd(r), gl = _mm_cvtps_pd(g), bl = _mm_cvtps_pd(b);
    const __m128d rh = _mm_cvtps_pd(_mm_movehl_ps(r, r)), gh = _mm_cvtps_pd(_mm_movehl_ps(g, g)),
                  bh = _mm_cvtps_pd(_mm_movehl_ps(b, b));
    float* out[3] = {pr + i, pg + i, pb + i};
    for (size_t k = 0; k < 3; ++k) {
      const __m128 lo = _mm_cvtpd_ps(RowPair(c[k], rl, gl, bl));
      const __m128 hi = _mm_cvtpd_ps(RowPair(c[k], rh, gh, bh));
      const __m128 v = _mm_movelh_ps(lo, hi);
      _mm_storeu_ps(out[k], _mm_or_ps(_mm_and_ps(valid, v), _mm_andnot_ps(valid, blank)));
    }
  }
  return i;
}
#endif

#if ASTRELON_HAVE_AVX2
// Eight pixels at a time in double lanes, each row in the scalar path's order.
ASTRELON_AVX512 size_t MatrixAvx512(float* pr, float* pg, float* pb, size_t n, const TMatrix3& m) {
  __m512d c[3][3];
  for (size_t i = 0; i < 3; ++i)
    for (size_t j = 0; j < 3; ++j) c[i][j] = _mm512_set1_pd(m[i][j]);
  const __m256 lim = _mm256_set1_ps(BlankLimit), blank = _mm256_set1_ps(BlankPixel);
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256 r = _mm256_loadu_ps(pr + i), g = _mm256_loadu_ps(pg + i), b = _mm256_loadu_ps(pb + i);
    const __m256 valid = _mm256_and_ps(_mm256_and_ps(_mm256_cmp_ps(r, lim, _CMP_GT_OQ), _mm256_cmp_ps(g, lim, _CMP_GT_OQ)),
                                       _mm256_cmp_ps(b, lim, _CMP_GT_OQ));
    const __m512d rd = _mm512_cvtps_pd(r), gd = _mm512_cvtps_pd(g), bd = _mm512_cvtps_pd(b);
    float* out[3] = {pr + i, pg + i, pb + i};
    for (size_t k = 0; k < 3; ++k) {
      const __m512d v =
          _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(c[k][0], rd), _mm512_mul_pd(c[k][1], gd)), _mm512_mul_pd(c[k][2], bd));
      _mm256_storeu_ps(out[k], _mm256_blendv_ps(blank, _mm512_cvtpd_ps(v), valid));
    }
  }
  return i;
}
#endif

}  // namespace

void ApplyCameraMatrixRun(std::span<float> r, std::span<float> g, std::span<float> b, const TMatrix3& m,
                          bool vector) {
  CheckSameLength(r.size(), g.size(), b.size());
  size_t done = 0;
#if ASTRELON_HAVE_AVX2
  if (UseAvx512(vector)) done = MatrixAvx512(r.data(), g.data(), b.data(), r.size(), m);
#endif
#if ASTRELON_HAVE_SSE2
  if (vector) done += MatrixSse2(r.data() + done, g.data() + done, b.data() + done, r.size() - done, m);
#endif
  MatrixScalar(r.data() + done, g.data() + done, b.data() + done, r.size() - done, m);
}

void ShowUnknownCameraMessage() {
  EngineUi().ShowMessage(LangTextOr(KeyUnknownCamera, "Das Farbprofil oder die Kamera [INSTRUME] ist nicht vorhanden."));
}

bool ApplyCameraProfile(int slot, bool adjustDisplay) {
  if (slot < 1 || !HasColourPlanes(slot)) {
    EngineUi().ShowMessage(LangTextOr(KeyNeedsColour, "Das Bild muss in Farbe sein."));
    return false;
  }
  if (!LookupCameraMatrix(GetHeaderValue(slot, "INSTRUME", false))) {
    ShowUnknownCameraMessage();
    return false;
  }
  if (Store.Image[slot].ColorModel == CmYuv) YUVtoRGB(slot);
  TImageSlot& im = Store.Image[slot];
  const TMatrix3 m = CameraProfileMatrix;
  const bool vector = Sse2Enabled;
  const auto scans = TransformPixelBlocks(im, 3, [&](size_t first, size_t count) {
    ApplyCameraMatrixRun(im.Plane(1).subspan(first, count), im.Plane(2).subspan(first, count),
                         im.Plane(3).subspan(first, count), m, vector);
  });
  SetMinMaxFromScans(slot, scans);
  ConvertXyzToRgb(slot, adjustDisplay);
  ComputeHistogram(slot, false, false);
  AddHistoryCard(slot, CameraProfileCaption, 0);
  return true;
}

}  // namespace astrelon

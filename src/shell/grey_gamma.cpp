// The power is exp2(e log2 x) from two series in double: log2 from the exponent
// bits and ln m = 2 f (1 + f²/3 + f⁴/5 + …) with f = (m - 1) / (m + 1), m in
// [0.707, 1.414); exp2 from 2^round(y) as exponent bits and a Taylor series of
// e^z on the rest, |z| <= 0.35. Both reach double precision, so the float result
// is std::pow's up to its last bit. The scalar and the vector path perform the
// same operations in the same order (no fused multiply-add), so they agree
// bit for bit.
#include "shell/grey_gamma.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "platform/simd_support.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr double Sqrt2 = 1.4142135623730951;
constexpr double InvLn2 = 1.4426950408889634;
constexpr double Ln2 = 0.6931471805599453;
// 2^200 is far beyond the float range either way.
constexpr double PowerLimit = 200.0;

constexpr int LogTerms = 10;  // f^18 / 19 < 1e-16 for |f| <= 0.1716
constexpr int ExpTerms = 13;  // z^13 / 13! < 2e-16 for |z| <= 0.347

constexpr std::array<double, LogTerms> LogSeries = [] {
  std::array<double, LogTerms> c{};
  for (int i = 0; i < LogTerms; ++i) c[size_t(i)] = 1.0 / double(2 * i + 1);
  return c;
}();

constexpr std::array<double, ExpTerms> ExpSeries = [] {
  std::array<double, ExpTerms> c{};
  double f = 1;
  for (int i = 0; i < ExpTerms; ++i) {
    if (i > 0) f *= double(i);
    c[size_t(i)] = 1.0 / f;
  }
  return c;
}();

constexpr uint64_t MantissaBits = 0x000FFFFFFFFFFFFFull;
constexpr uint64_t OneBits = 0x3FF0000000000000ull;

double Log2Scalar(double x) {
  const uint64_t bits = std::bit_cast<uint64_t>(x);
  const uint64_t field = (bits >> 52) & 0x7FF;
  // Infinity stays infinite.
  double k = field == 0x7FF ? INFINITY : double(int64_t(field)) - 1023.0;
  double m = std::bit_cast<double>((bits & MantissaBits) | OneBits);
  if (m > Sqrt2) {
    m = m * 0.5;
    k = k + 1.0;
  }
  const double f = (m - 1.0) / (m + 1.0);
  const double z = f * f;
  double p = LogSeries[LogTerms - 1];
  for (int i = LogTerms - 2; i >= 0; --i) p = p * z + LogSeries[size_t(i)];
  return k + ((2.0 * f) * p) * InvLn2;
}

double Exp2Scalar(double y) {
  y = std::min(std::max(y, -PowerLimit), PowerLimit);
  const double n = std::nearbyint(y);
  const double z = (y - n) * Ln2;
  double q = ExpSeries[ExpTerms - 1];
  for (int i = ExpTerms - 2; i >= 0; --i) q = q * z + ExpSeries[size_t(i)];
  return std::bit_cast<double>(std::bit_cast<uint64_t>(q) + (uint64_t(int64_t(n)) << 52));
}

float MapPixel(float p, double black, double scale, double e) {
  const double t = (double(p) - black) / scale;
  return float(Exp2Scalar(e * Log2Scalar(t)) * scale + black);
}

void GammaRunScalar(std::span<float> run, float limit, double black, double scale, double e) {
  for (float& p : run)
    if (IsValidPixel(p) && p > limit) p = MapPixel(p, black, scale, e);
}

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 __m256d Log2Avx2(__m256d x) {
  const __m256i bits = _mm256_castpd_si256(x);
  // The exponent field as a double: its bits under those of 2^52, minus 2^52.
  const __m256i field = _mm256_and_si256(_mm256_srli_epi64(bits, 52), _mm256_set1_epi64x(0x7FF));
  const __m256d two52 = _mm256_set1_pd(4503599627370496.0);
  __m256d k = _mm256_sub_pd(_mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(field, _mm256_castpd_si256(two52))), two52),
                            _mm256_set1_pd(1023.0));
  __m256d m = _mm256_castsi256_pd(_mm256_or_si256(_mm256_and_si256(bits, _mm256_set1_epi64x(int64_t(MantissaBits))),
                                                  _mm256_set1_epi64x(int64_t(OneBits))));
  k = _mm256_blendv_pd(k, _mm256_set1_pd(INFINITY),
                       _mm256_castsi256_pd(_mm256_cmpeq_epi64(field, _mm256_set1_epi64x(0x7FF))));
  const __m256d high = _mm256_cmp_pd(m, _mm256_set1_pd(Sqrt2), _CMP_GT_OQ);
  m = _mm256_blendv_pd(m, _mm256_mul_pd(m, _mm256_set1_pd(0.5)), high);
  k = _mm256_blendv_pd(k, _mm256_add_pd(k, _mm256_set1_pd(1.0)), high);
  const __m256d one = _mm256_set1_pd(1.0);
  const __m256d f = _mm256_div_pd(_mm256_sub_pd(m, one), _mm256_add_pd(m, one));
  const __m256d z = _mm256_mul_pd(f, f);
  __m256d p = _mm256_set1_pd(LogSeries[LogTerms - 1]);
  for (int i = LogTerms - 2; i >= 0; --i) p = _mm256_add_pd(_mm256_mul_pd(p, z), _mm256_set1_pd(LogSeries[size_t(i)]));
  const __m256d lnm = _mm256_mul_pd(_mm256_mul_pd(_mm256_add_pd(f, f), p), _mm256_set1_pd(InvLn2));
  return _mm256_add_pd(k, lnm);
}

ASTRELON_AVX2 __m256d Exp2Avx2(__m256d y) {
  y = _mm256_min_pd(_mm256_max_pd(y, _mm256_set1_pd(-PowerLimit)), _mm256_set1_pd(PowerLimit));
  const __m256d n = _mm256_round_pd(y, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
  const __m256d z = _mm256_mul_pd(_mm256_sub_pd(y, n), _mm256_set1_pd(Ln2));
  __m256d q = _mm256_set1_pd(ExpSeries[ExpTerms - 1]);
  for (int i = ExpTerms - 2; i >= 0; --i) q = _mm256_add_pd(_mm256_mul_pd(q, z), _mm256_set1_pd(ExpSeries[size_t(i)]));
  const __m256i shift = _mm256_slli_epi64(_mm256_cvtepi32_epi64(_mm256_cvtpd_epi32(n)), 52);
  return _mm256_castsi256_pd(_mm256_add_epi64(_mm256_castpd_si256(q), shift));
}

ASTRELON_AVX2 __m128 MapFourAvx2(__m128 p, __m256d black, __m256d scale, __m256d e) {
  const __m256d t = _mm256_div_pd(_mm256_sub_pd(_mm256_cvtps_pd(p), black), scale);
  const __m256d pw = Exp2Avx2(_mm256_mul_pd(e, Log2Avx2(t)));
  return _mm256_cvtpd_ps(_mm256_add_pd(_mm256_mul_pd(pw, scale), black));
}

ASTRELON_AVX2 void GammaRunAvx2(std::span<float> run, float limit, double black, double scale, double e) {
  const __m256 blank = _mm256_set1_ps(BlankLimit), low = _mm256_set1_ps(limit);
  const __m256d vb = _mm256_set1_pd(black), vs = _mm256_set1_pd(scale), ve = _mm256_set1_pd(e);
  float* data = run.data();
  size_t i = 0;
  for (; i + 8 <= run.size(); i += 8) {
    const __m256 p = _mm256_loadu_ps(data + i);
    const __m256 take = _mm256_and_ps(_mm256_cmp_ps(p, blank, _CMP_GT_OQ), _mm256_cmp_ps(p, low, _CMP_GT_OQ));
    if (_mm256_movemask_ps(take) == 0) continue;
    const __m128 lo = MapFourAvx2(_mm256_castps256_ps128(p), vb, vs, ve);
    const __m128 hi = MapFourAvx2(_mm256_extractf128_ps(p, 1), vb, vs, ve);
    const __m256 mapped = _mm256_insertf128_ps(_mm256_castps128_ps256(lo), hi, 1);
    _mm256_storeu_ps(data + i, _mm256_blendv_ps(p, mapped, take));
  }
  GammaRunScalar(run.subspan(i), limit, black, scale, e);
}
#endif

}  // namespace

TGreyGamma GreyGammaFor(const TDisplayRecord& display, double r, double g, double b) {
  TGreyGamma gg;
  gg.Black = display.Black;
  gg.Scale = double(display.White) - gg.Black;
  if (gg.Scale < 0.001) gg.Scale = 0.001;
  const std::array<double, 3> c{r, g, b};
  std::array<double, 3> k{};
  for (size_t i = 0; i < 3; ++i) k[i] = std::clamp((c[i] - gg.Black) / gg.Scale, 0.01, 0.99);
  const double l = std::clamp(0.3 * k[0] + 0.59 * k[1] + 0.11 * k[2], 0.05, 0.95);
  for (size_t i = 0; i < 3; ++i) gg.Exponent[i] = std::log(l) / std::log(k[i]);
  return gg;
}

double GreyGammaPower(double x, double e) { return Exp2Scalar(e * Log2Scalar(x)); }

void ApplyGreyGamma(int slot, const TGreyGamma& gamma) { ApplyGreyGamma(slot, gamma, Sse2Enabled); }

void ApplyGreyGamma(int slot, const TGreyGamma& gamma, bool vector) {
  if (!SlotInUse(slot)) return;
  TImageSlot& im = Store.Image[size_t(slot)];
  if (im.Width < 1 || im.Height < 1) return;
  std::vector<int> planes;
  for (int p = 1; p <= std::clamp(im.PlaneCount, 0, 3); ++p)
    if (im.Planes[size_t(p)].size() >= im.PixelCount()) planes.push_back(p);
  const int64_t rows = im.Height;
  const int64_t count = rows * int64_t(planes.size());
  const float limit = float(gamma.Black);
  const bool avx2 = UseAvx2(vector);
  const int threads = BandThreads(count, std::max<int64_t>(1, 8192 / im.Width), Options.Multicore != 0);
  ForEachBand(count, threads, [&](int64_t first, int64_t last) {
    for (int64_t k = first; k < last; ++k) {
      const int p = planes[size_t(k / rows)];
      const std::span<float> run = im.Row(p, int(k % rows));
      const double e = gamma.Exponent[size_t(p - 1)];
#if ASTRELON_HAVE_AVX2
      if (avx2) {
        GammaRunAvx2(run, limit, gamma.Black, gamma.Scale, e);
        continue;
      }
#endif
      GammaRunScalar(run, limit, gamma.Black, gamma.Scale, e);
    }
  });
}

}  // namespace astrelon

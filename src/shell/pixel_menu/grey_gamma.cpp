// The power is exp2(e log2 x) in double: log2 from the exponent bits, a table
// of 128 steps c of the mantissa m in [1, 2) and the series of ln(1 + r) for
// r = m / c - 1 in [0, 1/128); exp2 from exponent bits, a table of 64 steps
// 2^(j/64) and the series of e^z on the rest, |z| <= ln 2 / 128. Both reach double precision, so
// the float result is std::pow's up to its last bit. The scalar and the vector
// path perform the same operations in the same order (no fused multiply-add), so
// they agree bit for bit.
#include "shell/pixel_menu/grey_gamma.h"

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

constexpr double InvLn2 = 1.4426950408889634;
constexpr double Ln2 = 0.6931471805599453;
// 2^200 is far beyond the float range either way.
constexpr double PowerLimit = 200.0;

constexpr int LogSteps = 128;
constexpr int LogTerms = 8;  // r^9 / 9 < 2e-18 for r < 1/128
constexpr int ExpSteps = 64;
constexpr int ExpTerms = 6;  // z^6 / 6! < 4e-17 for |z| <= ln 2 / 128

// Coefficient n of ln(1 + r) = r - r²/2 + r³/3 - …, index n - 1.
constexpr std::array<double, LogTerms> LogSeries = [] {
  std::array<double, LogTerms> c{};
  for (int n = 1; n <= LogTerms; ++n) c[size_t(n - 1)] = (n % 2 ? 1.0 : -1.0) / double(n);
  return c;
}();

// Coefficient n of e^z = 1 + z + z²/2 + …
constexpr std::array<double, ExpTerms> ExpSeries = [] {
  std::array<double, ExpTerms> c{};
  double f = 1;
  for (int n = 0; n < ExpTerms; ++n) {
    if (n > 0) f *= double(n);
    c[size_t(n)] = 1.0 / f;
  }
  return c;
}();

// Log step i: c = 1 + i / 128; InvC = 1 / c rounded, Log2C = -log2(InvC), so
// that log2 m = Log2C + log2(m InvC) holds for the rounded InvC. Exp step j:
// 2^(j / 64).
struct TPowerTables {
  alignas(32) std::array<double, LogSteps> InvC{};
  alignas(32) std::array<double, LogSteps> Log2C{};
  alignas(32) std::array<double, ExpSteps> Exp2J{};
  TPowerTables() {
    for (int i = 0; i < LogSteps; ++i) {
      InvC[size_t(i)] = 1.0 / (1.0 + double(i) / LogSteps);
      Log2C[size_t(i)] = -std::log2(InvC[size_t(i)]);
    }
    for (int j = 0; j < ExpSteps; ++j) Exp2J[size_t(j)] = std::exp2(double(j) / ExpSteps);
  }
};
const TPowerTables Tables;

constexpr uint64_t MantissaBits = 0x000FFFFFFFFFFFFFull;
constexpr uint64_t OneBits = 0x3FF0000000000000ull;

double Log2Scalar(double x) {
  const uint64_t bits = std::bit_cast<uint64_t>(x);
  const uint64_t field = (bits >> 52) & 0x7FF;
  // Infinity stays infinite.
  const double k = field == 0x7FF ? INFINITY : double(int64_t(field)) - 1023.0;
  const double m = std::bit_cast<double>((bits & MantissaBits) | OneBits);
  const size_t i = size_t((bits >> 45) & (LogSteps - 1));
  const double r = m * Tables.InvC[i] - 1.0;
  double p = LogSeries[LogTerms - 1];
  for (int n = LogTerms - 2; n >= 0; --n) p = p * r + LogSeries[size_t(n)];
  return k + (Tables.Log2C[i] + (p * r) * InvLn2);
}

// 2^y = 2^n 2^(j/64) e^z with n 64 + j = round(64 y) and z = (y - that / 64) ln 2.
double Exp2Scalar(double y) {
  y = std::min(std::max(y, -PowerLimit), PowerLimit);
  const double steps = std::nearbyint(y * ExpSteps);
  const double z = (y - steps * (1.0 / ExpSteps)) * Ln2;
  double q = ExpSeries[ExpTerms - 1];
  for (int n = ExpTerms - 2; n >= 0; --n) q = q * z + ExpSeries[size_t(n)];
  const int32_t s = int32_t(steps);
  const double v = Tables.Exp2J[size_t(s & (ExpSteps - 1))] * q;
  return std::bit_cast<double>(std::bit_cast<uint64_t>(v) + (uint64_t(int64_t(s >> 6)) << 52));
}

// What one plane's pixels go through: p > Limit becomes ((p - Black) / Scale)^E
// x Scale + Black, the division taken as a product with Inverse.
struct TPlaneMap {
  float Limit;
  double Black, Scale, Inverse, E;
};

float MapPixel(float p, const TPlaneMap& m) {
  const double t = (double(p) - m.Black) * m.Inverse;
  return float(Exp2Scalar(m.E * Log2Scalar(t)) * m.Scale + m.Black);
}

void GammaRunScalar(std::span<float> run, const TPlaneMap& m) {
  for (float& p : run)
    if (IsValidPixel(p) && p > m.Limit) p = MapPixel(p, m);
}

#if ASTRELON_HAVE_AVX2
// Four groups of four pixels go through each step together, so that the long
// chains of the series overlap.
constexpr int Groups = 4;

ASTRELON_AVX2 inline __m256d Splat(double v) { return _mm256_set1_pd(v); }

// Four table entries by index. Plain loads: gathers are slow on some processors.
ASTRELON_AVX2 inline __m256d Gather(const double* table, __m256i index) {
  alignas(32) int64_t i[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(i), index);
  return _mm256_set_pd(table[i[3]], table[i[2]], table[i[1]], table[i[0]]);
}
ASTRELON_AVX2 inline __m256d Gather(const double* table, __m128i index) {
  alignas(16) int32_t i[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(i), index);
  return _mm256_set_pd(table[i[3]], table[i[2]], table[i[1]], table[i[0]]);
}

ASTRELON_AVX2 inline void Log2Avx2(__m256d* x) {
  __m256d k[Groups], r[Groups], log2c[Groups], p[Groups];
  for (int g = 0; g < Groups; ++g) {
    const __m256i bits = _mm256_castpd_si256(x[g]);
    // The exponent field as a double: its bits under those of 2^52, minus 2^52.
    const __m256i field = _mm256_and_si256(_mm256_srli_epi64(bits, 52), _mm256_set1_epi64x(0x7FF));
    const __m256d two52 = Splat(4503599627370496.0);
    const __m256d kg = _mm256_sub_pd(
        _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(field, _mm256_castpd_si256(two52))), two52), Splat(1023.0));
    k[g] = _mm256_blendv_pd(kg, Splat(INFINITY),
                            _mm256_castsi256_pd(_mm256_cmpeq_epi64(field, _mm256_set1_epi64x(0x7FF))));
    const __m256d m = _mm256_castsi256_pd(_mm256_or_si256(
        _mm256_and_si256(bits, _mm256_set1_epi64x(int64_t(MantissaBits))), _mm256_set1_epi64x(int64_t(OneBits))));
    const __m256i step = _mm256_and_si256(_mm256_srli_epi64(bits, 45), _mm256_set1_epi64x(LogSteps - 1));
    log2c[g] = Gather(Tables.Log2C.data(), step);
    r[g] = _mm256_sub_pd(_mm256_mul_pd(m, Gather(Tables.InvC.data(), step)), Splat(1.0));
    p[g] = Splat(LogSeries[LogTerms - 1]);
  }
  for (int n = LogTerms - 2; n >= 0; --n)
    for (int g = 0; g < Groups; ++g) p[g] = _mm256_add_pd(_mm256_mul_pd(p[g], r[g]), Splat(LogSeries[size_t(n)]));
  for (int g = 0; g < Groups; ++g)
    x[g] = _mm256_add_pd(k[g], _mm256_add_pd(log2c[g], _mm256_mul_pd(_mm256_mul_pd(p[g], r[g]), Splat(InvLn2))));
}

ASTRELON_AVX2 inline void Exp2Avx2(__m256d* y) {
  __m256d z[Groups], q[Groups];
  __m128i s[Groups];
  for (int g = 0; g < Groups; ++g) {
    const __m256d c = _mm256_min_pd(_mm256_max_pd(y[g], Splat(-PowerLimit)), Splat(PowerLimit));
    const __m256d steps =
        _mm256_round_pd(_mm256_mul_pd(c, Splat(ExpSteps)), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    z[g] = _mm256_mul_pd(_mm256_sub_pd(c, _mm256_mul_pd(steps, Splat(1.0 / ExpSteps))), Splat(Ln2));
    s[g] = _mm256_cvtpd_epi32(steps);
    q[g] = Splat(ExpSeries[ExpTerms - 1]);
  }
  for (int n = ExpTerms - 2; n >= 0; --n)
    for (int g = 0; g < Groups; ++g) q[g] = _mm256_add_pd(_mm256_mul_pd(q[g], z[g]), Splat(ExpSeries[size_t(n)]));
  for (int g = 0; g < Groups; ++g) {
    const __m128i j = _mm_and_si128(s[g], _mm_set1_epi32(ExpSteps - 1));
    const __m256d v = _mm256_mul_pd(Gather(Tables.Exp2J.data(), j), q[g]);
    const __m256i shift = _mm256_slli_epi64(_mm256_cvtepi32_epi64(_mm_srai_epi32(s[g], 6)), 52);
    y[g] = _mm256_castsi256_pd(_mm256_add_epi64(_mm256_castpd_si256(v), shift));
  }
}

// Sixteen pixels; the caller blends the lanes that are not mapped back.
ASTRELON_AVX2 void MapSixteenAvx2(const float* in, float* out, const TPlaneMap& m) {
  __m256d t[Groups];
  for (int g = 0; g < Groups; ++g)
    t[g] = _mm256_mul_pd(_mm256_sub_pd(_mm256_cvtps_pd(_mm_loadu_ps(in + 4 * g)), Splat(m.Black)), Splat(m.Inverse));
  Log2Avx2(t);
  for (int g = 0; g < Groups; ++g) t[g] = _mm256_mul_pd(Splat(m.E), t[g]);
  Exp2Avx2(t);
  for (int g = 0; g < Groups; ++g)
    _mm_storeu_ps(out + 4 * g, _mm256_cvtpd_ps(_mm256_add_pd(_mm256_mul_pd(t[g], Splat(m.Scale)), Splat(m.Black))));
}

ASTRELON_AVX2 void GammaRunAvx2(std::span<float> run, const TPlaneMap& m) {
  const __m256 blank = _mm256_set1_ps(BlankLimit), low = _mm256_set1_ps(m.Limit);
  float* data = run.data();
  alignas(32) float mapped[16];
  size_t i = 0;
  for (; i + 16 <= run.size(); i += 16) {
    const __m256 a = _mm256_loadu_ps(data + i), b = _mm256_loadu_ps(data + i + 8);
    const __m256 ta = _mm256_and_ps(_mm256_cmp_ps(a, blank, _CMP_GT_OQ), _mm256_cmp_ps(a, low, _CMP_GT_OQ));
    const __m256 tb = _mm256_and_ps(_mm256_cmp_ps(b, blank, _CMP_GT_OQ), _mm256_cmp_ps(b, low, _CMP_GT_OQ));
    if ((_mm256_movemask_ps(ta) | _mm256_movemask_ps(tb)) == 0) continue;
    MapSixteenAvx2(data + i, mapped, m);
    _mm256_storeu_ps(data + i, _mm256_blendv_ps(a, _mm256_load_ps(mapped), ta));
    _mm256_storeu_ps(data + i + 8, _mm256_blendv_ps(b, _mm256_load_ps(mapped + 8), tb));
  }
  GammaRunScalar(run.subspan(i), m);
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
  const bool avx2 = UseAvx2(vector);
  const int threads = BandThreads(count, std::max<int64_t>(1, 8192 / im.Width), Options.Multicore != 0);
  ForEachBand(count, threads, [&](int64_t first, int64_t last) {
    for (int64_t k = first; k < last; ++k) {
      const int p = planes[size_t(k / rows)];
      const std::span<float> run = im.Row(p, int(k % rows));
      const TPlaneMap m{float(gamma.Black), gamma.Black, gamma.Scale, 1.0 / gamma.Scale, gamma.Exponent[size_t(p - 1)]};
#if ASTRELON_HAVE_AVX2
      if (avx2) {
        GammaRunAvx2(run, m);
        continue;
      }
#endif
      GammaRunScalar(run, m);
    }
  });
}

}  // namespace astrelon

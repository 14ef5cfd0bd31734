#include "registration/calibration/flat_response_fit.h"

#include <algorithm>
#include <cmath>

#include "platform/simd_support.h"
#include "store/image_slot.h"
#include "store/planes/interpolation_kernels.h"

namespace astrelon {

namespace {

double& Coordinate(TFlatResponse& r, int i) {
  switch (i) {
    case 0: return r.C0;
    case 1: return r.C1;
    case 2: return r.C2;
    case 3: return r.Gx;
    default: return r.Gy;
  }
}

// The histogram at a real position from its four neighbouring bins.
double InterpolateBins(std::span<const int32_t> h, double pos) {
  const auto& kernel = KernelTables()[IkBicubic];
  const int64_t base = int64_t(std::floor(pos));
  double v = 0;
  for (int64_t i = base - 1; i <= base + 2; ++i) {
    const double e = std::nearbyint((pos - double(i)) * KernelTableStepsPerPixel) + KernelTableCentre;
    if (i < 0 || i >= int64_t(h.size()) || e < 0 || e >= KernelTableSize) continue;
    v += double(h[size_t(i)]) * double(kernel[size_t(e)]);
  }
  return v;
}

// A search that keeps improving on a first visit ends when the peak can grow
// no more; this bounds it all the same.
constexpr int MaxTries = 4000;

}  // namespace

double HistogramPeak(std::span<const int32_t> histogram) {
  if (histogram.empty()) return 0;
  const auto top = std::max_element(histogram.begin(), histogram.end());
  const int64_t b = top - histogram.begin();
  double peak = *top;
  if (b > 1 && b < int64_t(histogram.size()) - 2)
    for (int j = -10; j <= 10; ++j) peak = std::max(peak, InterpolateBins(histogram, double(b) + 0.05 * j));
  return peak;
}

TFlatSampleColumns::TFlatSampleColumns(std::span<const TFlatSample> samples, const TFlatFrame& frame) {
  const double hh = frame.Height / 2, hw = frame.Width / 2;
  for (const TFlatSample& s : samples) {
    Source.push_back(s.Source);
    Flat.push_back(s.Flat);
    Dy.push_back(hh - s.Y);
    Dx.push_back(hw - s.X);
  }
}

namespace {

// The histogram's constants of one parameter set.
struct TPeakFactors {
  double ToBins, Gy, Gx;
  TPeakFactors(const TFlatResponse& r, const TFlatFrame& frame, int32_t bins)
      : ToBins(double(bins) * (r.C0 + r.C1 + r.C2) / (0.01 + frame.ValueRange)),
        Gy(-frame.Unit * r.Gy / frame.Height),
        Gx(-frame.Unit * r.Gx / frame.Width) {}
};

void CountScalar(const TFlatSampleColumns& s, size_t first, const TFlatResponse& r, const TPeakFactors& k,
                 std::vector<int32_t>& histogram) {
  const double bins = double(histogram.size());
  for (size_t i = first; i < s.Source.size(); ++i) {
    const double g = r.Gain(s.Flat[i]);
    if (!(g > 0.1)) continue;
    const double value = (s.Source[i] / g + s.Dy[i] * k.Gy + s.Dx[i] * k.Gx) * k.ToBins;
    if (value > 0 && value < bins) ++histogram[size_t(value)];
  }
}

#if ASTRELON_HAVE_AVX2
// Four samples a step; returns where the scalar loop takes over.
ASTRELON_AVX2 size_t CountAvx2(const TFlatSampleColumns& s, const TFlatResponse& r, const TPeakFactors& k,
                               std::vector<int32_t>& histogram) {
  const __m256d c0 = _mm256_set1_pd(r.C0), c1 = _mm256_set1_pd(r.C1), c2 = _mm256_set1_pd(r.C2);
  const __m256d gy = _mm256_set1_pd(k.Gy), gx = _mm256_set1_pd(k.Gx), toBins = _mm256_set1_pd(k.ToBins);
  const __m256d minGain = _mm256_set1_pd(0.1), zero = _mm256_setzero_pd();
  const __m256d bins = _mm256_set1_pd(double(histogram.size()));
  const size_t n = s.Source.size();
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m256d f = _mm256_loadu_pd(s.Flat.data() + i);
    const __m256d g = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(_mm256_mul_pd(c1, f), f), _mm256_mul_pd(c0, f)), c2);
    const __m256d value = _mm256_mul_pd(
        _mm256_add_pd(_mm256_add_pd(_mm256_div_pd(_mm256_loadu_pd(s.Source.data() + i), g),
                                    _mm256_mul_pd(_mm256_loadu_pd(s.Dy.data() + i), gy)),
                      _mm256_mul_pd(_mm256_loadu_pd(s.Dx.data() + i), gx)),
        toBins);
    const __m256d counted = _mm256_and_pd(_mm256_cmp_pd(g, minGain, _CMP_GT_OQ),
                                          _mm256_and_pd(_mm256_cmp_pd(value, zero, _CMP_GT_OQ),
                                                        _mm256_cmp_pd(value, bins, _CMP_LT_OQ)));
    int mask = _mm256_movemask_pd(counted);
    if (mask == 0) continue;
    // Counted values lie in 0 .. bins (at most 8192): truncation as size_t(value).
    alignas(16) int32_t bin[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(bin), _mm256_cvttpd_epi32(_mm256_and_pd(counted, value)));
    for (; mask != 0; mask &= mask - 1) ++histogram[size_t(bin[__builtin_ctz(unsigned(mask))])];
  }
  return i;
}
#endif

}  // namespace

double FlatHistogramPeak(const TFlatSampleColumns& samples, const TFlatResponse& r, const TFlatFrame& frame,
                         std::vector<int32_t>& histogram, bool vector) {
  const int32_t bins = std::max(frame.Bins, 0);
  histogram.assign(size_t(bins), 0);
  if (bins == 0) return 0;
  const TPeakFactors k(r, frame, bins);
  size_t first = 0;
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) first = CountAvx2(samples, r, k, histogram);
#endif
  CountScalar(samples, first, r, k, histogram);
  return HistogramPeak(histogram);
}

TFlatResponse SearchFlatResponse(const std::function<double(const TFlatResponse&)>& peak) {
  TFlatResponse r;
  std::array<double, 5> step{0.1, 0.1, 0.1, 1.0, 1.0};
  std::array<bool, 5> visited{};  // the first visit is completed
  constexpr std::array<int, 5> Order{3, 4, 0, 1, 2};
  double best = peak(r);
  size_t turn = 0;
  for (int tries = 0; std::fabs(step[0]) >= 0.01 && tries < MaxTries; ++tries) {
    const int i = Order[turn];
    double& c = Coordinate(r, i);
    const double kept = c;
    c += step[size_t(i)];
    const double v = peak(r);
    if (v > best) {
      best = v;
      if (!visited[size_t(i)]) continue;  // the same direction again
      step[size_t(i)] /= 2;
    } else {
      c = kept;
      if (step[size_t(i)] > 0) {
        step[size_t(i)] = -step[size_t(i)];
        continue;
      }
      step[size_t(i)] /= 2;
      visited[size_t(i)] = true;
    }
    turn = (turn + 1) % Order.size();
  }
  return r;
}

TFlatResponse FitFlatResponse(std::span<const TFlatSample> samples, const TFlatFrame& frame, bool vector) {
  const TFlatSampleColumns columns(samples, frame);
  std::vector<int32_t> histogram;
  return SearchFlatResponse(
      [&](const TFlatResponse& r) { return FlatHistogramPeak(columns, r, frame, histogram, vector); });
}

}  // namespace astrelon

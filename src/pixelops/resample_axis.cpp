// Anti-moiré reduction and interpolation along one axis of a plane.
#include <algorithm>
#include <cmath>
#include <vector>

#include "core/settings.h"
#include "pixelops/resample_steps.h"
#include "pixelops/subpixel_samplers.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"

namespace astrelon {

namespace {

// The taps of every output sample of a line: first source sample, count and weights.
struct TTapTable {
  std::vector<int32_t> First, Count;
  std::vector<size_t> Offset;
  std::vector<float> Weight;

  void Add(int32_t first, int32_t count, const float* w) {
    First.push_back(first);
    Count.push_back(count);
    Offset.push_back(Weight.size());
    Weight.insert(Weight.end(), w, w + count);
  }
  const float* Weights(size_t i) const { return Weight.data() + Offset[i]; }
  float Mean(const float* line, ptrdiff_t stride, size_t i, double minWeight) const {
    return WeightedMean(line, stride, First[i], Count[i], Weights(i), minWeight);
  }
};

// Position of output sample i along a side shrunk or stretched by ratio: the
// centres of the output pixels map onto the centres of the source pixels.
std::vector<double> SamplePositions(int32_t n, double ratio) {
  const double offset = 0.5 / ratio - 0.5;
  std::vector<double> pos(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) pos[size_t(i)] = i / ratio + offset;
  return pos;
}

// The one-dimensional sampler's taps at each position.
TTapTable SamplerTaps(const std::vector<float>& pos, int32_t length, const TSamplingKind& k) {
  TTapTable t;
  float w[MaxLineTaps];
  for (float p : pos) {
    int32_t first = 0;
    const int32_t count = LineTaps(p, length, k, first, w);
    t.Add(first, count, w);
  }
  return t;
}

// Taps c - r + 1 .. c + r (clipped to the line) of the kernel stretched by 1 / ratio.
TTapTable StretchedTaps(const std::vector<double>& pos, int32_t length, double ratio, int32_t kind, int64_t r) {
  TTapTable t;
  const auto& row = KernelRow(kind);
  std::vector<float> w;
  for (double p : pos) {
    const int64_t c = int64_t(p);
    const int64_t j0 = std::max<int64_t>(0, c - r + 1), j1 = std::min<int64_t>(length - 1, c + r);
    w.clear();
    for (int64_t j = j0; j <= j1; ++j)
      w.push_back(KernelEntry(row, KernelTableCentre + int64_t(std::nearbyint((double(j) - p) * ratio *
                                                                               KernelTableStepsPerPixel))));
    t.Add(int32_t(j0), int32_t(w.size()), w.data());
  }
  return t;
}

// Nearest integer of v, within 0..limit (v is positive and finite).
int64_t RoundedTaps(double v, int64_t limit) { return std::min<int64_t>(int64_t(std::nearbyint(std::min(v, 1e9))), limit); }

enum class TMode { Taps, AntiMoireJump, AdaptiveDSinc, Neuro };

// How every output sample of a line is computed.
struct TAxisPlan {
  TMode Mode = TMode::Taps;
  double MinWeight = 0.3;
  TTapTable A, B, C;           // Taps: A; jump test: A (kind), B (bicubic); adaptive: A dSinc, B soft cubic, C bicubic
  std::vector<int32_t> Centre;  // integer part of each position
  std::vector<float> Pos;       // positions for the network
  int32_t R3 = 0;

  float Element(const float* line, ptrdiff_t stride, int32_t length, size_t i) const {
    auto p = [&](int32_t j) { return line[ptrdiff_t(j) * stride]; };
    switch (Mode) {
      case TMode::AntiMoireJump: {
        // The largest step between neighbours, and the largest near the centre.
        const int32_t first = A.First[i], last = first + A.Count[i] - 1, c = Centre[i];
        float maxAll = 0, maxNear = 0;
        for (int32_t j = first + R3; j <= last - R3 && j < last; ++j) {
          const float d = std::fabs(p(j) - p(j + 1));
          if (d > maxAll) maxAll = d;
          if (std::abs(j - c) < R3 && d > maxNear) maxNear = d;
        }
        return (maxNear * 3.5f - 0.1f < maxAll ? B : A).Mean(line, stride, i, MinWeight);
      }
      case TMode::AdaptiveDSinc: {
        const int32_t c = Centre[i];
        if (c <= 3 || c >= length - 5) return C.Mean(line, stride, i, MinWeight);
        float m = std::fabs(p(c) - p(c + 1));
        m = std::max(m, std::fabs(p(c + 1) - p(c + 2)));
        m = std::max(m, std::fabs(p(c) - p(c - 1)));
        const float limit = 3.5f * m - 0.1f;
        for (int32_t j = c - 4; j <= c + 4; ++j)
          if (std::fabs(p(j) - p(j + 1)) > limit) return B.Mean(line, stride, i, MinWeight);
        return A.Mean(line, stride, i, MinWeight);
      }
      default:
        return A.Mean(line, stride, i, MinWeight);
    }
  }
};

// Runs the plan over a plane: output n x h (X) or w x n (Y).
TPlane RunPlan(const TPlane& src, int32_t w, int32_t h, TResampleAxis axis, int32_t n, const TAxisPlan& plan) {
  const bool alongX = axis == TResampleAxis::X;
  const int32_t outW = alongX ? n : w, outH = alongX ? h : n;
  TPlane out(size_t(outW) * size_t(outH));
  const float* s = src.data();
  float* o = out.data();
  const TPlaneView view{s, w, h};
  const TSamplingKind neuro = SamplingKindOf(IkNeuro);
  const bool vector = Sse2Enabled;
  ForEachBand(outH, ResampleThreads(int64_t(outW) * outH), [&](int64_t r0, int64_t r1) {
    for (int32_t r = int32_t(r0); r < int32_t(r1); ++r) {
      float* row = o + size_t(r) * size_t(outW);
      if (alongX) {
        const float* line = s + size_t(r) * size_t(w);
        if (plan.Mode == TMode::Neuro)
          for (int32_t i = 0; i < n; ++i) row[i] = SamplePoint(view, neuro, plan.Pos[size_t(i)], float(r));
        else
          for (int32_t i = 0; i < n; ++i) row[i] = plan.Element(line, 1, w, size_t(i));
      } else if (plan.Mode == TMode::Taps) {
        const size_t i = size_t(r);
        WeightedRowMeans(s, size_t(w), plan.A.First[i], plan.A.Count[i], plan.A.Weights(i), plan.MinWeight, row, w,
                         vector);
      } else if (plan.Mode == TMode::Neuro) {
        for (int32_t x = 0; x < w; ++x) row[x] = SamplePoint(view, neuro, float(x), plan.Pos[size_t(r)]);
      } else {
        for (int32_t x = 0; x < w; ++x) row[x] = plan.Element(s + x, w, h, size_t(r));
      }
    }
  });
  return out;
}

void WeightedRowMeansScalar(const float* src, size_t rowStride, int32_t first, int32_t count, const float* weights,
                            double minWeight, float* out, int32_t x0, int32_t n) {
  const float* base = src + size_t(first) * rowStride;
  for (int32_t x = x0; x < n; ++x)
    out[x] = WeightedMean(base + x, ptrdiff_t(rowStride), 0, count, weights, minWeight);
}

#if ASTRELON_HAVE_SSE2
// Two lanes of doubles per vector; each lane adds its taps in tap order.
int32_t WeightedRowMeansSse2(const float* src, size_t rowStride, int32_t first, int32_t count, const float* weights,
                             double minWeight, float* out, int32_t n) {
  const __m128d limit = _mm_set1_pd(double(BlankLimit)), minW = _mm_set1_pd(minWeight);
  const __m128 blank = _mm_set1_ps(BlankPixel);
  const float* base = src + size_t(first) * rowStride;
  int32_t x = 0;
  for (; x + 4 <= n; x += 4) {
    __m128d w0 = _mm_setzero_pd(), w1 = w0, v0 = w0, v1 = w0;
    const float* s = base + x;
    for (int32_t t = 0; t < count; ++t, s += rowStride) {
      const __m128 v = _mm_loadu_ps(s);
      const __m128d a = _mm_cvtps_pd(v), b = _mm_cvtps_pd(_mm_movehl_ps(v, v));
      const __m128d wt = _mm_set1_pd(double(weights[t]));
      const __m128d ma = _mm_cmpgt_pd(a, limit), mb = _mm_cmpgt_pd(b, limit);
      w0 = _mm_add_pd(w0, _mm_and_pd(ma, wt));
      w1 = _mm_add_pd(w1, _mm_and_pd(mb, wt));
      v0 = _mm_add_pd(v0, _mm_and_pd(ma, _mm_mul_pd(wt, a)));
      v1 = _mm_add_pd(v1, _mm_and_pd(mb, _mm_mul_pd(wt, b)));
    }
    const __m128 q = _mm_movelh_ps(_mm_cvtpd_ps(_mm_div_pd(v0, w0)), _mm_cvtpd_ps(_mm_div_pd(v1, w1)));
    // The two 64-bit masks of each half packed into four 32-bit lanes.
    const __m128 ok = _mm_movelh_ps(_mm_castsi128_ps(_mm_shuffle_epi32(_mm_castpd_si128(_mm_cmpgt_pd(w0, minW)), 0x08)),
                                    _mm_castsi128_ps(_mm_shuffle_epi32(_mm_castpd_si128(_mm_cmpgt_pd(w1, minW)), 0x08)));
    _mm_storeu_ps(out + x, _mm_or_ps(_mm_and_ps(ok, q), _mm_andnot_ps(ok, blank)));
  }
  return x;
}
#endif

#if ASTRELON_HAVE_AVX2
// Four lanes of doubles per vector, eight columns per step.
ASTRELON_AVX2 int32_t WeightedRowMeansAvx2(const float* src, size_t rowStride, int32_t first, int32_t count,
                                           const float* weights, double minWeight, float* out, int32_t n) {
  const __m256d limit = _mm256_set1_pd(double(BlankLimit)), minW = _mm256_set1_pd(minWeight);
  const __m128 blank = _mm_set1_ps(BlankPixel);
  const float* base = src + size_t(first) * rowStride;
  int32_t x = 0;
  for (; x + 8 <= n; x += 8) {
    __m256d w0 = _mm256_setzero_pd(), w1 = w0, v0 = w0, v1 = w0;
    const float* s = base + x;
    for (int32_t t = 0; t < count; ++t, s += rowStride) {
      const __m256 v = _mm256_loadu_ps(s);
      const __m256d a = _mm256_cvtps_pd(_mm256_castps256_ps128(v)), b = _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1));
      const __m256d wt = _mm256_set1_pd(double(weights[t]));
      const __m256d ma = _mm256_cmp_pd(a, limit, _CMP_GT_OQ), mb = _mm256_cmp_pd(b, limit, _CMP_GT_OQ);
      w0 = _mm256_add_pd(w0, _mm256_and_pd(ma, wt));
      w1 = _mm256_add_pd(w1, _mm256_and_pd(mb, wt));
      v0 = _mm256_add_pd(v0, _mm256_and_pd(ma, _mm256_mul_pd(wt, a)));
      v1 = _mm256_add_pd(v1, _mm256_and_pd(mb, _mm256_mul_pd(wt, b)));
    }
    const __m128 q0 = _mm256_cvtpd_ps(_mm256_div_pd(v0, w0)), q1 = _mm256_cvtpd_ps(_mm256_div_pd(v1, w1));
    const __m128 ok0 = _mm256_cvtpd_ps(_mm256_cmp_pd(w0, minW, _CMP_GT_OQ));
    const __m128 ok1 = _mm256_cvtpd_ps(_mm256_cmp_pd(w1, minW, _CMP_GT_OQ));
    // A true mask converts to NaN, a false one to 0: compare against itself to get full masks.
    const __m128 m0 = _mm_cmpunord_ps(ok0, ok0), m1 = _mm_cmpunord_ps(ok1, ok1);
    _mm_storeu_ps(out + x, _mm_blendv_ps(blank, q0, m0));
    _mm_storeu_ps(out + x + 4, _mm_blendv_ps(blank, q1, m1));
  }
  return x;
}
#endif

}  // namespace

int ResampleThreads(int64_t pixels) { return BandThreads(pixels, int64_t(1) << 16, Options.Multicore != 0); }

void WeightedRowMeans(const float* src, size_t rowStride, int32_t first, int32_t count, const float* weights,
                      double minWeight, float* out, int32_t n, bool vector) {
  int32_t x = 0;
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) x = WeightedRowMeansAvx2(src, rowStride, first, count, weights, minWeight, out, n);
#endif
#if ASTRELON_HAVE_SSE2
  if (vector && x == 0) x = WeightedRowMeansSse2(src, rowStride, first, count, weights, minWeight, out, n);
#endif
  WeightedRowMeansScalar(src, rowStride, first, count, weights, minWeight, out, x, n);
}

TPlane AntiMoireAxis(const TPlane& src, int32_t w, int32_t h, TResampleAxis axis, int32_t n, double ratio,
                     const TSamplingKind& k) {
  const int32_t length = axis == TResampleAxis::X ? w : h;
  const std::vector<double> pos = SamplePositions(n, ratio);
  const int64_t r1 = RoundedTaps(k.Hi / ratio + 0.4, length);
  TAxisPlan plan;
  plan.MinWeight = 0.1;
  plan.A = StretchedTaps(pos, length, ratio, k.Kind, r1);
  if (k.Kind == IkDSinc) {
    // Near an isolated jump the dSinc's ringing is worse than the cubic's blur.
    plan.Mode = TMode::AntiMoireJump;
    plan.B = StretchedTaps(pos, length, ratio, IkBicubic, RoundedTaps(2 / ratio + 0.4, length));
    plan.R3 = int32_t(RoundedTaps(k.Hi / ratio * 0.2 + 0.4, length));
    for (double p : pos) plan.Centre.push_back(int32_t(p));
  }
  return RunPlan(src, w, h, axis, n, plan);
}

TPlane InterpolateAxis(const TPlane& src, int32_t w, int32_t h, TResampleAxis axis, int32_t n, double ratio,
                       int32_t kind) {
  const int32_t length = axis == TResampleAxis::X ? w : h;
  const std::vector<double> dpos = SamplePositions(n, ratio);
  std::vector<float> pos(dpos.begin(), dpos.end());
  TAxisPlan plan;
  if (kind == IkNeuro) {
    plan.Mode = TMode::Neuro;
    plan.Pos = std::move(pos);
  } else if (kind == IkDSinc) {
    plan.Mode = TMode::AdaptiveDSinc;
    plan.A = SamplerTaps(pos, length, SamplingKindOf(IkDSinc));
    plan.B = SamplerTaps(pos, length, SamplingKindOf(IkNeuro));
    plan.C = SamplerTaps(pos, length, SamplingKindOf(IkBicubic));
    for (float p : pos) plan.Centre.push_back(int32_t(p));
  } else {
    plan.A = SamplerTaps(pos, length, SamplingKindOf(kind));
  }
  return RunPlan(src, w, h, axis, n, plan);
}

}  // namespace astrelon

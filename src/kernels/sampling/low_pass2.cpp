#include "kernels/sampling/low_pass2.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr int MaxTaps = 31;

// The taps of one run: out[j] from the values p[i][j], i = 0 .. Count − 1.
struct TTapRun {
  const float* K;                  // the weights of the taps used
  const float* P[MaxTaps];         // their value runs
  int Count = 0;
};

inline float Filtered(float old, float sum, float weight) {
  if (!IsValidPixel(old) || !(weight > 0)) return old;
  return sum / weight;
}

// Per j: sum = Σ k·v over the valid values, weight = Σ k over them (a blank adds
// k·0 to both), in tap order; out[j] = sum / weight where out[j] is valid and
// the weight positive, else out[j] is kept. Every path multiplies and adds in
// this order, so all give the same bits.
void FilterScalar(const TTapRun& r, float* out, int64_t from, int64_t count) {
  for (int64_t j = from; j < count; ++j) {
    float sum = 0.0f, weight = 0.0f;
    for (int i = 0; i < r.Count; ++i) {
      const float v = r.P[i][j];
      const bool valid = IsValidPixel(v);
      sum += r.K[i] * (valid ? v : 0.0f);
      weight += r.K[i] * (valid ? 1.0f : 0.0f);
    }
    out[j] = Filtered(out[j], sum, weight);
  }
}

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 int64_t FilterAvx2(const TTapRun& r, float* out, int64_t count) {
  const __m256 limit = _mm256_set1_ps(BlankLimit), one = _mm256_set1_ps(1.0f), zero = _mm256_setzero_ps();
  int64_t j = 0;
  for (; j + 8 <= count; j += 8) {
    __m256 sum = zero, weight = zero;
    for (int i = 0; i < r.Count; ++i) {
      const __m256 k = _mm256_set1_ps(r.K[i]);
      const __m256 v = _mm256_loadu_ps(r.P[i] + j);
      const __m256 valid = _mm256_cmp_ps(v, limit, _CMP_GT_OQ);
      sum = _mm256_add_ps(sum, _mm256_mul_ps(k, _mm256_and_ps(valid, v)));
      weight = _mm256_add_ps(weight, _mm256_mul_ps(k, _mm256_and_ps(valid, one)));
    }
    const __m256 old = _mm256_loadu_ps(out + j);
    const __m256 use = _mm256_and_ps(_mm256_cmp_ps(old, limit, _CMP_GT_OQ), _mm256_cmp_ps(weight, zero, _CMP_GT_OQ));
    _mm256_storeu_ps(out + j, _mm256_blendv_ps(old, _mm256_div_ps(sum, weight), use));
  }
  return j;
}
#endif

#if ASTRELON_HAVE_SSE2
int64_t FilterSse2(const TTapRun& r, float* out, int64_t count) {
  const __m128 limit = _mm_set1_ps(BlankLimit), one = _mm_set1_ps(1.0f), zero = _mm_setzero_ps();
  int64_t j = 0;
  for (; j + 4 <= count; j += 4) {
    __m128 sum = zero, weight = zero;
    for (int i = 0; i < r.Count; ++i) {
      const __m128 k = _mm_set1_ps(r.K[i]);
      const __m128 v = _mm_loadu_ps(r.P[i] + j);
      const __m128 valid = _mm_cmpgt_ps(v, limit);
      sum = _mm_add_ps(sum, _mm_mul_ps(k, _mm_and_ps(valid, v)));
      weight = _mm_add_ps(weight, _mm_mul_ps(k, _mm_and_ps(valid, one)));
    }
    const __m128 old = _mm_loadu_ps(out + j);
    const __m128 use = _mm_and_ps(_mm_cmpgt_ps(old, limit), _mm_cmpgt_ps(weight, zero));
    const __m128 q = _mm_div_ps(sum, weight);
    _mm_storeu_ps(out + j, _mm_or_ps(_mm_and_ps(use, q), _mm_andnot_ps(use, old)));
  }
  return j;
}
#endif

void FilterRun(const TTapRun& r, float* out, int64_t count, bool vector) {
  int64_t j = 0;
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) j = FilterAvx2(r, out, count);
#endif
#if ASTRELON_HAVE_SSE2
  if (vector && j == 0) j = FilterSse2(r, out, count);
#endif
  FilterScalar(r, out, j, count);
}

// The taps of a line padded by n values on either side: tap i reads from i on.
TTapRun LineTaps(std::span<const float> kernel, const float* padded) {
  TTapRun r;
  r.K = kernel.data();
  r.Count = int(kernel.size());
  for (int i = 0; i < r.Count; ++i) r.P[i] = padded + i;
  return r;
}

}  // namespace

TLowPass2Parameters LimitLowPass2Parameters(const TLowPass2Parameters& p) {
  auto limit = [](double v, double lo, double hi, double fallback) { return v == v ? std::clamp(v, lo, hi) : fallback; };
  return {limit(p.CutOff, 0.01, 4.0, 0.5), limit(p.Steepness, 1.0, 10.0, 2.0), limit(p.Shift, -1.0, 1.0, 0.0)};
}

std::vector<float> LowPass2Kernel(const TLowPass2Parameters& parameters) {
  const TLowPass2Parameters p = LimitLowPass2Parameters(parameters);
  const double a = p.Steepness / p.CutOff;
  const int n = int(std::min(std::trunc(a) + 1, 15.0));
  std::vector<float> kernel(size_t(2 * n + 1));
  for (int i = -n; i <= n; ++i) {
    const double x = std::numbers::pi * (i + p.Shift) * p.CutOff;
    kernel[size_t(i + n)] = x == 0 ? 1.0f : float(std::sin(x) / x * std::sin(x / a) * a / x);
  }
  return kernel;
}

void LowPass2Line(std::span<const float> kernel, float* line, int64_t count, std::vector<float>& scratch,
                  bool vector) {
  const int64_t n = int64_t(kernel.size() / 2);
  scratch.resize(size_t(count + 2 * n));
  std::fill_n(scratch.data(), n, BlankPixel);
  std::copy_n(line, count, scratch.data() + n);
  std::fill_n(scratch.data() + n + count, n, BlankPixel);
  FilterRun(LineTaps(kernel, scratch.data()), line, count, vector);
}

namespace {

// Down the columns of a plane in place, each output row formed across the whole
// width. A band keeps the original values of the n rows above and below it
// (copied before any band writes) and of its own last n + 1 rows in a ring;
// taps beyond the top and bottom of the plane add nothing.
void LowPass2Columns(std::span<const float> kernel, float* plane, int64_t w, int64_t h, int threads, bool vector) {
  const int64_t n = int64_t(kernel.size() / 2);
  threads = int(std::clamp<int64_t>(threads, 1, h));
  auto bandStart = [&](int64_t k) { return h * k / threads; };
  std::vector<std::vector<float>> halos(static_cast<size_t>(threads));
  ForEachBand(threads, threads, [&](int64_t k0, int64_t k1) {
    for (int64_t k = k0; k < k1; ++k) {
      const int64_t first = bandStart(k), last = bandStart(k + 1);
      std::vector<float>& halo = halos[size_t(k)];
      halo.assign(size_t(2 * n * w), 0.0f);
      for (int64_t r = first - n; r < first; ++r)
        if (r >= 0) std::copy_n(plane + r * w, w, halo.data() + (r - first + n) * w);
      for (int64_t r = last; r < last + n; ++r)
        if (r < h) std::copy_n(plane + r * w, w, halo.data() + (n + r - last) * w);
    }
  });
  ForEachBand(threads, threads, [&](int64_t k0, int64_t k1) {
    for (int64_t k = k0; k < k1; ++k) {
      const int64_t first = bandStart(k), last = bandStart(k + 1);
      const float* halo = halos[size_t(k)].data();
      std::vector<float> ring(size_t((n + 1) * w));
      for (int64_t y = first; y < last; ++y) {
        std::copy_n(plane + y * w, w, ring.data() + (y % (n + 1)) * w);
        const int64_t i0 = std::max<int64_t>(0, n - y), i1 = std::min<int64_t>(int64_t(kernel.size()), h - y + n);
        TTapRun run;
        run.K = kernel.data() + i0;
        run.Count = int(i1 - i0);
        for (int64_t i = i0; i < i1; ++i) {
          const int64_t r = y + i - n;
          const float* row = r < first  ? halo + (r - first + n) * w
                             : r >= last ? halo + (n + r - last) * w
                             : r <= y    ? ring.data() + (r % (n + 1)) * w
                                         : plane + r * w;
          run.P[i - i0] = row;
        }
        FilterRun(run, plane + y * w, w, vector);
      }
    }
  });
}

}  // namespace

void ApplyLowPass2(int slot, bool alongRows, double shift, double steepness, double cutOff) {
  ApplyLowPass2(slot, alongRows, shift, steepness, cutOff, Sse2Enabled);
}

void ApplyLowPass2Plane(std::span<float> plane, int64_t w, int64_t h, bool alongRows, double shift, double steepness,
                        double cutOff, bool vector) {
  if (w < 1 || h < 1 || plane.size() < size_t(w) * size_t(h)) return;
  const std::vector<float> kernel = LowPass2Kernel({cutOff, steepness, shift});
  const bool multi = Options.Multicore != 0 && w * h >= (int64_t(1) << 16);
  const int threads = BandThreads(h, 16, multi);
  float* p = plane.data();
  if (alongRows) {
    ForEachBand(h, threads, [&](int64_t first, int64_t last) {
      std::vector<float> scratch;
      for (int64_t y = first; y < last; ++y) LowPass2Line(kernel, p + y * w, w, scratch, vector);
    });
  } else {
    LowPass2Columns(kernel, p, w, h, threads, vector);
  }
}

void ApplyLowPass2(int slot, bool alongRows, double shift, double steepness, double cutOff, bool vector) {
  if (!SlotInUse(slot)) return;
  TImageSlot& im = Store.Image[size_t(slot)];
  for (int p = 1; p <= im.PlaneCount && p <= 3; ++p)
    ApplyLowPass2Plane(im.Planes[size_t(p)], im.Width, im.Height, alongRows, shift, steepness, cutOff, vector);
}

}  // namespace astrelon

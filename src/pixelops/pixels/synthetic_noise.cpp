#include "pixelops/pixels/synthetic_noise.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <span>
#include <vector>

#include "common/engine_ui.h"
#include "common/float_range.h"
#include "common/pascal_format.h"
#include "core/settings.h"
#include "kernels/gauss/gauss_table.h"
#include "kernels/gauss/noise_blocks.h"
#include "kernels/regions/rect_runs.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"

namespace astrelon {

TSyntheticNoiseState SyntheticNoise;

namespace {

// Values a thread works between two looks at pending events and the abort flag
// (some milliseconds; fewer steps, fewer thread starts).
constexpr int64_t StepValues = int64_t(1) << 23;
// Pieces of a step per thread: the threads take them in turn, so that one
// held up by other programs does not hold up the step.
constexpr int64_t PiecesPerThread = 4;
constexpr double SmoothWeight = 0.176;
constexpr double SmoothNorm = 0.9416;  // 1 / (1 + 2 · 0.176²)

class TBusyScope {
public:
  TBusyScope() { SyntheticNoise.Busy = true; }
  ~TBusyScope() { SyntheticNoise.Busy = false; }
  TBusyScope(const TBusyScope&) = delete;
  TBusyScope& operator=(const TBusyScope&) = delete;
};

// Runs fn(first, last) over the rows [0, count), `width` values each, in steps
// of about StepValues per thread, each step split into pieces of rows that the
// cores take in turn; between steps pending events run. False when the abort
// flag was raised or `stillValid` fails after the events.
template <typename F, typename V>
bool StepwiseRows(int64_t count, int64_t width, F&& fn, V&& stillValid) {
  const int threads = BandThreads(count * width, StepValues / 16, Options.Multicore != 0);
  const int64_t step = std::max<int64_t>(1, StepValues * threads / std::max<int64_t>(width, 1));
  for (int64_t first = 0; first < count; first += step) {
    const int64_t n = std::min(step, count - first);
    const int64_t piece = threads == 1 ? n : std::max<int64_t>(1, n / (PiecesPerThread * threads));
    std::atomic<int64_t> next{first};
    ForEachBand(threads, threads, [&](int64_t, int64_t) {
      for (int64_t a; (a = next.fetch_add(piece)) < first + n;) fn(a, std::min(a + piece, first + n));
    });
    EngineUi().ProcessMessages();
    if (AbortRequested || !stillValid()) return false;
  }
  return true;
}

// A row of noise v added to the source values `in` into `out`; blank source
// pixels leave the destination pixel as it is. With the brightness switch the
// noise is scaled by sqrt(max(in − o, 0) / r).
struct TNoiseAdd {
  const float* In;
  float* Out;
  const float* V;
  int64_t Width;
  double O, R;
};

void AddNoiseScalar(const TNoiseAdd& a, int64_t from) {
  for (int64_t x = from; x < a.Width; ++x)
    if (IsValidPixel(a.In[x])) a.Out[x] = a.In[x] + a.V[x];
}

void AddScaledNoiseScalar(const TNoiseAdd& a, int64_t from) {
  for (int64_t x = from; x < a.Width; ++x)
    if (IsValidPixel(a.In[x]))
      a.Out[x] = float(double(a.In[x]) + std::sqrt(std::max(double(a.In[x]) - a.O, 0.0) / a.R) * double(a.V[x]));
}

#if ASTRELON_HAVE_AVX2
// Eight values stored where valid (all of them at once in the common case).
ASTRELON_AVX2 inline void StoreValid(float* out, __m256 valid, __m256 v) {
  if (_mm256_movemask_ps(valid) == 0xFF)
    _mm256_storeu_ps(out, v);
  else
    _mm256_maskstore_ps(out, _mm256_castps_si256(valid), v);
}

ASTRELON_AVX2 void AddNoiseAvx2(const TNoiseAdd& a) {
  const __m256 limit = _mm256_set1_ps(BlankLimit);
  int64_t x = 0;
  for (; x + 8 <= a.Width; x += 8) {
    const __m256 s = _mm256_loadu_ps(a.In + x);
    StoreValid(a.Out + x, _mm256_cmp_ps(s, limit, _CMP_GT_OQ), _mm256_add_ps(s, _mm256_loadu_ps(a.V + x)));
  }
  AddNoiseScalar(a, x);
}

ASTRELON_AVX2 inline __m128 ScaledNoise4(__m128 s, __m128 v, __m256d o, __m256d r) {
  const __m256d d = _mm256_cvtps_pd(s);
  // max(0, x) keeps x unless x < 0, as std::max(x, 0.0) does.
  const __m256d f = _mm256_sqrt_pd(_mm256_div_pd(_mm256_max_pd(_mm256_setzero_pd(), _mm256_sub_pd(d, o)), r));
  return _mm256_cvtpd_ps(_mm256_add_pd(d, _mm256_mul_pd(f, _mm256_cvtps_pd(v))));
}

ASTRELON_AVX2 void AddScaledNoiseAvx2(const TNoiseAdd& a) {
  const __m256 limit = _mm256_set1_ps(BlankLimit);
  const __m256d o = _mm256_set1_pd(a.O), r = _mm256_set1_pd(a.R);
  int64_t x = 0;
  for (; x + 8 <= a.Width; x += 8) {
    const __m256 s = _mm256_loadu_ps(a.In + x), v = _mm256_loadu_ps(a.V + x);
    const __m128 lo = ScaledNoise4(_mm256_castps256_ps128(s), _mm256_castps256_ps128(v), o, r);
    const __m128 hi = ScaledNoise4(_mm256_extractf128_ps(s, 1), _mm256_extractf128_ps(v, 1), o, r);
    StoreValid(a.Out + x, _mm256_cmp_ps(s, limit, _CMP_GT_OQ), _mm256_set_m128(hi, lo));
  }
  AddScaledNoiseScalar(a, x);
}
#endif

// The vector paths give the same values as the scalar ones.
void AddNoise(const TNoiseAdd& a, bool vector) {
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) return AddNoiseAvx2(a);
#endif
  AddNoiseScalar(a, 0);
}

void AddScaledNoise(const TNoiseAdd& a, bool vector) {
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) return AddScaledNoiseAvx2(a);
#endif
  AddScaledNoiseScalar(a, 0);
}

// The low pass of the noise: along the field, out[j] = ((v[j − 1] + v[j + 1])
// 0.176 + v[j]) 0.9416 for j < count (v[−1] and v[count] are read); across
// the rows, out = (up + down) 0.176 + mid. Both in double, each value rounded
// once to float.
void SmoothAlongScalar(const float* v, float* out, int64_t from, int64_t count) {
  for (int64_t j = from; j < count; ++j)
    out[j] = float(((double(v[j - 1]) + v[j + 1]) * SmoothWeight + v[j]) * SmoothNorm);
}

void SmoothAcrossScalar(const float* up, const float* mid, const float* down, float* out, int64_t from, int64_t w) {
  for (int64_t x = from; x < w; ++x) out[x] = float((double(up[x]) + down[x]) * SmoothWeight + mid[x]);
}

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 void SmoothAlongAvx2(const float* v, float* out, int64_t count) {
  const __m256d weight = _mm256_set1_pd(SmoothWeight), norm = _mm256_set1_pd(SmoothNorm);
  int64_t j = 0;
  for (; j + 4 <= count; j += 4) {
    const __m256d left = _mm256_cvtps_pd(_mm_loadu_ps(v + j - 1)), right = _mm256_cvtps_pd(_mm_loadu_ps(v + j + 1));
    const __m256d centre = _mm256_cvtps_pd(_mm_loadu_ps(v + j));
    const __m256d r = _mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(_mm256_add_pd(left, right), weight), centre), norm);
    _mm_storeu_ps(out + j, _mm256_cvtpd_ps(r));
  }
  SmoothAlongScalar(v, out, j, count);
}

ASTRELON_AVX2 void SmoothAcrossAvx2(const float* up, const float* mid, const float* down, float* out, int64_t w) {
  const __m256d weight = _mm256_set1_pd(SmoothWeight);
  int64_t x = 0;
  for (; x + 4 <= w; x += 4) {
    const __m256d a = _mm256_cvtps_pd(_mm_loadu_ps(up + x)), b = _mm256_cvtps_pd(_mm_loadu_ps(down + x));
    const __m256d r = _mm256_add_pd(_mm256_mul_pd(_mm256_add_pd(a, b), weight), _mm256_cvtps_pd(_mm_loadu_ps(mid + x)));
    _mm_storeu_ps(out + x, _mm256_cvtpd_ps(r));
  }
  SmoothAcrossScalar(up, mid, down, out, x, w);
}
#endif

void SmoothAlong(const float* v, float* out, int64_t count, bool vector) {
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) return SmoothAlongAvx2(v, out, count);
#endif
  SmoothAlongScalar(v, out, 0, count);
}

void SmoothAcross(const float* up, const float* mid, const float* down, float* out, int64_t w, bool vector) {
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) return SmoothAcrossAvx2(up, mid, down, out, w);
#endif
  SmoothAcrossScalar(up, mid, down, out, 0, w);
}

// The values of a noise field in order from `next` up to `end`, drawn a few
// blocks at a time into a buffer that stays in the processor's cache.
class TFieldStream {
public:
  TFieldStream(const TNoiseSettings& settings, uint64_t seed, int64_t next, int64_t end, bool vector)
      : gauss_(settings.Distribution == TNoiseDistribution::Gauss),
        amount_(LimitFactor(settings.Amount)),
        seed_(seed),
        next_(next),
        end_(end),
        drawnFirst_(next),
        drawnEnd_(next),
        vector_(vector) {}

  // The next values, at most `count` of them (at least one while any are left).
  std::span<const float> Take(int64_t count) {
    if (next_ == drawnEnd_) {
      // Up to the end of the chunk the next value lies in, so that later
      // chunks begin on a block.
      drawnFirst_ = next_;
      drawnEnd_ = std::min(end_, next_ - next_ % NoiseBlockValues + ChunkValues);
      DrawNoise(seed_, gauss_, amount_, drawnFirst_, std::span(chunk_.data(), size_t(drawnEnd_ - drawnFirst_)),
                vector_);
    }
    const int64_t n = std::min(count, drawnEnd_ - next_);
    const float* v = chunk_.data() + (next_ - drawnFirst_);
    next_ += n;
    return {v, size_t(n)};
  }

  // The next `count` values copied to `out`.
  void Fill(float* out, int64_t count) {
    while (count > 0) {
      const std::span<const float> v = Take(count);
      std::copy(v.begin(), v.end(), out);
      out += v.size();
      count -= int64_t(v.size());
    }
  }

private:
  static constexpr int64_t ChunkValues = 4 * NoiseBlockValues;
  bool gauss_;
  double amount_;
  uint64_t seed_;
  int64_t next_, end_, drawnFirst_, drawnEnd_;  // the chunk holds values drawnFirst_ .. drawnEnd_ − 1
  bool vector_;
  std::array<float, size_t(ChunkValues)> chunk_;
};

// The noise of rows [ya, yb) of the rectangle (w values a row, h rows) added
// to the source into the destination, row by row as the field is drawn.
class TNoiseRows {
public:
  TNoiseRows(const TNoiseSettings& settings, uint64_t seed, int64_t w, int64_t h, double o, double r)
      : s_(settings), seed_(seed), w_(w), h_(h), n_(w * h), o_(o), r_(r), vector_(Sse2Enabled) {}

  // in(k) and out(k): row k of the rectangle in the source and the destination.
  template <class In, class Out>
  void Run(int64_t ya, int64_t yb, In in, Out out) {
    if (s_.LowPass)
      LowPassRows(ya, yb, in, out);
    else
      WhiteRows(ya, yb, in, out);
  }

private:
  template <class In, class Out>
  void WhiteRows(int64_t ya, int64_t yb, In in, Out out) {
    TFieldStream field(s_, seed_, ya * w_, yb * w_, vector_);
    for (int64_t y = ya; y < yb; ++y)
      for (int64_t x = 0; x < w_;) {
        const std::span<const float> v = field.Take(w_ - x);
        AddRow(in(y) + x, out(y) + x, v.data(), int64_t(v.size()));
        x += int64_t(v.size());
      }
  }

  // v[i] = ((v[i−1] + v[i+1]) 0.176 + v[i]) 0.9416 along the whole field taken
  // as one sequence (its first and last value kept), then per column
  // v = (above + below) 0.176 + v on rows 1 .. h − 2, each pass from the
  // values before it. The rows of the first pass are made one ahead of the
  // row they are added to, in a ring of three.
  template <class In, class Out>
  void LowPassRows(int64_t ya, int64_t yb, In in, Out out) {
    const int64_t ha = std::max<int64_t>(ya - 1, 0);
    TFieldStream field(s_, seed_, std::max<int64_t>(ha * w_ - 1, 0), std::min(yb * w_ + w_ + 1, n_), vector_);
    // raw_[j] = v[y w − 1 + j] for the row y last made, j = 0 .. w + 1.
    raw_.resize(size_t(w_ + 2));
    for (auto& row : smoothed_) row.resize(size_t(w_));
    row_.resize(size_t(w_));
    int64_t made = ha;  // the next row of the first pass
    for (int64_t y = ya; y < yb; ++y) {
      for (; made <= std::min(y + 1, h_ - 1); ++made) SmoothRow(made, made == ha, field);
      const float* mid = Smoothed(y);
      const float* noise = mid;
      if (y > 0 && y < h_ - 1) {
        SmoothAcross(Smoothed(y - 1), mid, Smoothed(y + 1), row_.data(), w_, vector_);
        noise = row_.data();
      }
      AddRow(in(y), out(y), noise, w_);
    }
  }

  float* Smoothed(int64_t y) { return smoothed_[size_t(y % 3)].data(); }

  // Row y of the first pass from the field values v[y w − 1 .. y w + w].
  void SmoothRow(int64_t y, bool first, TFieldStream& field) {
    const int64_t a = y * w_;  // the row's first value in the field
    if (first) {
      const int64_t from = std::max<int64_t>(a - 1, 0);
      field.Fill(raw_.data() + (from - (a - 1)), std::min(a + w_ + 1, n_) - from);
    } else {
      // The row before ended with v[a − 1] and v[a].
      raw_[0] = raw_[size_t(w_)];
      raw_[1] = raw_[size_t(w_ + 1)];
      field.Fill(raw_.data() + 2, std::min(a + w_ + 1, n_) - (a + 1));
    }
    const float* v = raw_.data() + 1;  // v[x] = value a + x
    float* s = Smoothed(y);
    const int64_t from = std::max<int64_t>(a, 1), to = std::min(a + w_, n_ - 1);
    if (a == 0) s[0] = v[0];
    if (a + w_ == n_) s[w_ - 1] = v[w_ - 1];
    if (to > from) SmoothAlong(v + (from - a), s + (from - a), to - from, vector_);
  }

  void AddRow(const float* in, float* out, const float* v, int64_t count) const {
    const TNoiseAdd add{in, out, v, count, o_, r_};
    if (s_.BrightnessScaled)
      AddScaledNoise(add, vector_);
    else
      AddNoise(add, vector_);
  }

  const TNoiseSettings& s_;
  uint64_t seed_;
  int64_t w_, h_, n_;
  double o_, r_;
  bool vector_;
  std::vector<float> raw_, row_;
  std::array<std::vector<float>, 3> smoothed_;
};

}  // namespace

bool AddSyntheticNoise(int source, int destination, const TNoiseSettings& settings) {
  return AddSyntheticNoise(source, destination, settings, NewNoiseSeed());
}

bool AddSyntheticNoise(int source, int destination, const TNoiseSettings& settings, uint64_t seed) {
  AbortRequested = 0;
  TBusyScope busy;
  if (!SlotInUse(source) || !SlotInUse(destination) || source == destination) return false;
  const int32_t width = Store.Image[size_t(source)].Width, height = Store.Image[size_t(source)].Height;
  const int32_t planeCount = Store.Image[size_t(source)].PlaneCount;
  auto sameImages = [&] {
    if (!SlotInUse(source) || !SlotInUse(destination)) return false;
    const TImageSlot& s = Store.Image[size_t(source)];
    const TImageSlot& d = Store.Image[size_t(destination)];
    return s.Width == width && s.Height == height && d.Width == width && d.Height == height &&
           s.PlaneCount == planeCount && d.PlaneCount >= planeCount;
  };
  if (!sameImages()) return false;
  SetWorkRectFromWindow(destination, 1, false);
  const TClippedRect rect = ClipRectToSlot(destination, WorkRect);
  if (rect.Empty()) return false;
  const int64_t w = rect.Width(), h = rect.Height();

  // Brightness scale: the noise grows with the square root of the value above o.
  const TImageSlot& src = Store.Image[size_t(source)];
  double r = std::max((double(src.MaxValue) - double(src.MinValue)) / 2, 0.01);
  const double o = double(src.MinValue) - r / 8;
  r = std::max(r + r / 8, 0.0001);

  // Every plane's rows of a piece together: the planes of the destination's
  // channel selection get a noise field each, the others are copied.
  const TPlaneList chosen = SelectedChannels(destination);
  std::vector<bool> noisy(size_t(planeCount) + 1);
  for (int32_t p = 1; p <= planeCount; ++p)
    noisy[size_t(p)] = std::find(chosen.Planes().begin(), chosen.Planes().end(), p) != chosen.Planes().end();
  const bool done = StepwiseRows(
      h, w * planeCount,
      [&](int64_t a, int64_t b) {
        for (int32_t p = 1; p <= planeCount; ++p) {
          // Row k of the rectangle in the source and the destination.
          auto in = [&](int64_t k) {
            return Store.Image[size_t(source)].Row(p, rect.y1 + int32_t(k)).data() + rect.x1;
          };
          auto out = [&](int64_t k) {
            return Store.Image[size_t(destination)].Row(p, rect.y1 + int32_t(k)).data() + rect.x1;
          };
          if (noisy[size_t(p)])
            TNoiseRows(settings, MixSeed(seed + uint64_t(p)), w, h, o, r).Run(a, b, in, out);
          else
            for (int64_t k = a; k < b; ++k) std::copy_n(in(k), w, out(k));
        }
      },
      sameImages);
  if (!done) return false;
  SyntheticNoise.Last = settings;
  SyntheticNoise.Valid = true;
  return true;
}

std::string NoiseAmountText(int position) {
  const double q = (100.0 - std::clamp(position, 0, 100)) / 3.0;
  return FormatFixed(q * q, 2);
}

}  // namespace astrelon

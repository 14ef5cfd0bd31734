#include "kernels/fft/line_spectra.h"

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "kernels/fft/pow2_lines.h"
#include "store/image_slot.h"

namespace astrelon {

namespace {

// Whether every sample of a contiguous line is one the line preparation keeps as it is.
bool AllAccepted(const float* line, int32_t n, float clip) {
  int32_t i = 0;
#if defined(__SSE2__)
  const __m128 low = _mm_set1_ps(BlankLimit), high = _mm_set1_ps(clip);
  __m128 ok = _mm_castsi128_ps(_mm_set1_epi32(-1));
  for (; i + 4 <= n; i += 4) {
    const __m128 v = _mm_loadu_ps(line + i);
    ok = _mm_and_ps(ok, _mm_and_ps(_mm_cmpgt_ps(v, low), _mm_cmple_ps(v, high)));
  }
  if (_mm_movemask_ps(ok) != 15) return false;
#endif
  bool valid = true;
  for (; i < n; ++i) valid &= IsValidPixel(line[i]) && !(line[i] > clip);
  return valid;
}

}  // namespace

TLineSpectra::TLineSpectra(const TFftPlan& plan, int lanes, int32_t n, std::span<const double> taper)
    : lines_(plan, lanes), taper_(taper), n_(n), nb_(plan.Length / 2 + 1), scale_(1.0 / plan.Length),
      line_(size_t(2 * lanes) * size_t(plan.Length)), re_(size_t(2 * lanes) * size_t(nb_)), im_(re_.size()),
      amp_(size_t(nb_)) {}

const double* TLineSpectra::Amplitudes(int q) {
  const double* re = Re(q);
  const double* im = Im(q);
  double* a = amp_.data();
  int32_t k = 0;
#if defined(__SSE2__)
  for (; k + 2 <= nb_; k += 2) {
    const __m128d r = _mm_loadu_pd(re + k), i = _mm_loadu_pd(im + k);
    _mm_storeu_pd(a + k, _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(r, r), _mm_mul_pd(i, i))));
  }
#endif
  for (; k < nb_; ++k) a[k] = std::sqrt(re[k] * re[k] + im[k] * im[k]);
  return a;
}

void TLineSpectra::Forward(const float* const* line, int count, int64_t stride, const float* clips) {
  const int32_t N = lines_.Length();
  // Contiguous lines of the full length whose samples are all accepted are their own lines.
  bool plain = stride == 1 && n_ == N;
  for (int q = 0; q < count && plain; ++q) plain = AllAccepted(line[q], n_, clips ? clips[q] : NoLineClip);
  if (plain) {
    TRealLinePairs::TLines<float> la{}, lb{};
    for (int q = 0; q < count; ++q) (q % 2 == 0 ? la : lb)[size_t(q / 2)] = line[q];
    lines_.LoadPairs(la, lb);
  } else {
    TRealLinePairs::TLines<double> la{}, lb{};
    for (int q = 0; q < count; ++q) {
      const std::span<double> out(line_.data() + size_t(q) * size_t(N), size_t(N));
      PreparePow2Line(line[q], stride, n_, 0, clips ? clips[q] : NoLineClip, false, taper_, out);
      (q % 2 == 0 ? la : lb)[size_t(q / 2)] = out.data();
    }
    lines_.LoadPairs(la, lb);
  }
  lines_.Transform();
  for (int l = 0; l < lines_.Lanes(); ++l) {
    const int q = 2 * l;
    if (q + 1 < count) {
      lines_.SplitBins(l, Re(q), Im(q), Re(q + 1), Im(q + 1));
    } else if (q < count) {
      for (int32_t k = 0; k < nb_; ++k) Re(q)[k] = lines_.Re(l, k), Im(q)[k] = lines_.Im(l, k);
    }
  }
}

void TLineSpectra::InverseTransform(int count) {
  TRealLinePairs::TLines<double> aRe{}, aIm{}, bRe{}, bIm{};
  for (int q = 0; q < count; ++q) {
    auto& re = q % 2 == 0 ? aRe : bRe;
    auto& im = q % 2 == 0 ? aIm : bIm;
    re[size_t(q / 2)] = Re(q);
    im[size_t(q / 2)] = Im(q);
  }
  lines_.LoadHermitianPairs(aRe, aIm, bRe, bIm, true);
  lines_.Transform();
}

void TLineSpectra::Inverse(float* const* out, int count, int64_t stride) {
  InverseTransform(count);
  for (int q = 0; q < count; ++q) {
    float* o = out[q];
    for (int32_t i = 0; i < n_; ++i) o[i * stride] = float(Value(q, i));
  }
}

}  // namespace astrelon

#include "frequency/interference_filter.h"

#include <algorithm>
#include <cmath>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "frequency/fft_lines.h"
#include "frequency/fft_sizes.h"
#include "frequency/fft_workspace.h"
#include "frequency/pow2_lines.h"
#include "frequency/spectrum_slots.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr double Big = 1e18;
constexpr float NoClip = 1e18f;
// Rows per partial sum of the mean spectrum: sums are made per block and added
// in block order, so the result does not depend on how blocks meet workers.
constexpr int64_t BlockRows = 64;

double Amplitude(double re, double im) { return std::sqrt(re * re + im * im); }

// Whether every sample of a row is one the line preparation keeps as it is.
bool AllValid(const float* row, int32_t n) {
  int32_t i = 0;
#if defined(__SSE2__)
  const __m128 low = _mm_set1_ps(BlankLimit), high = _mm_set1_ps(NoClip);
  __m128 ok = _mm_castsi128_ps(_mm_set1_epi32(-1));
  for (; i + 4 <= n; i += 4) {
    const __m128 v = _mm_loadu_ps(row + i);
    ok = _mm_and_ps(ok, _mm_and_ps(_mm_cmpgt_ps(v, low), _mm_cmple_ps(v, high)));
  }
  if (_mm_movemask_ps(ok) != 15) return false;
#endif
  bool valid = true;
  for (; i < n; ++i) valid &= IsValidPixel(row[i]) && !(row[i] > NoClip);
  return valid;
}

// Unscaled spectra (bins 0 .. N/2) of up to 2·lanes consecutive rows from an
// even row on, two rows per transform; a last row alone is transformed alone.
class TRowSpectra {
public:
  TRowSpectra(const TFftPlan& plan, int lanes, int32_t width, std::span<const double> taper)
      : lines_(plan, lanes), taper_(taper), w_(width), nb_(plan.Length / 2 + 1),
        line_(size_t(2 * lanes) * size_t(plan.Length)), re_(size_t(2 * lanes) * size_t(nb_)), im_(re_.size()),
        amp_(size_t(nb_)) {}

  int32_t Bins() const { return nb_; }
  // The amplitudes of row q's bins 0 .. nb − 1 (after Forward).
  const double* Amplitudes(int q) {
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
    for (; k < nb_; ++k) a[k] = Amplitude(re[k], im[k]);
    return a;
  }
  int RowsPerGroup() const { return 2 * lines_.Lanes(); }
  double* Re(int q) { return re_.data() + size_t(q) * size_t(nb_); }
  double* Im(int q) { return im_.data() + size_t(q) * size_t(nb_); }

  // Spectra of rows first + q (q < count) into Re(q), Im(q).
  void Forward(const float* plane, int64_t first, int count) {
    const int32_t N = lines_.Length();
    // Rows of the full length without blank pixels are their own lines.
    bool plain = w_ == N;
    for (int q = 0; q < count && plain; ++q) plain = AllValid(plane + (first + q) * w_, w_);
    if (plain) {
      TRealLinePairs::TLines<float> la{}, lb{};
      for (int q = 0; q < count; ++q) (q % 2 == 0 ? la : lb)[size_t(q / 2)] = plane + (first + q) * w_;
      lines_.LoadPairs(la, lb);
    } else {
      TRealLinePairs::TLines<double> la{}, lb{};
      for (int q = 0; q < count; ++q) {
        const std::span<double> line(line_.data() + size_t(q) * size_t(N), size_t(N));
        PreparePow2Line(plane + (first + q) * w_, 1, w_, 0, NoClip, false, taper_, line);
        (q % 2 == 0 ? la : lb)[size_t(q / 2)] = line.data();
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

  // Rows first + q from the (changed) spectra Re(q), Im(q), scaled by 1/N,
  // their first `width` values into `out`.
  void Inverse(float* out, int64_t first, int count) {
    const int32_t N = lines_.Length();
    TRealLinePairs::TLines<double> aRe{}, aIm{}, bRe{}, bIm{};
    for (int q = 0; q < count; ++q) {
      auto& re = q % 2 == 0 ? aRe : bRe;
      auto& im = q % 2 == 0 ? aIm : bIm;
      re[size_t(q / 2)] = Re(q);
      im[size_t(q / 2)] = Im(q);
    }
    lines_.LoadHermitianPairs(aRe, aIm, bRe, bIm, true);
    lines_.Transform();
    const double s = 1.0 / N;
    for (int l = 0; l < lines_.Lanes(); ++l) {
      const int q = 2 * l;
      if (q >= count) continue;
      float* ra = out + (first + q) * w_;
      for (int32_t i = 0; i < w_; ++i) ra[i] = float(lines_.Re(l, i) * s);
      if (q + 1 < count) {
        float* rb = ra + w_;
        for (int32_t i = 0; i < w_; ++i) rb[i] = float(lines_.Im(l, i) * s);
      }
    }
  }

private:
  TRealLinePairs lines_;
  std::span<const double> taper_;
  int32_t w_, nb_;
  std::vector<double> line_, re_, im_, amp_;
};

// Roughness of a spectrum: the mean ratio of the smaller to the larger of bins k
// and k + 2 (k = k0 .. nb − 3), over nb − k0 − 1.
template <class F>
double Roughness(int32_t k0, int32_t nb, F&& value) {
  double r = 0;
  for (int32_t k = k0; k <= nb - 3; ++k) {
    const double a = value(k), b = value(k + 2);
    const double hi = std::max(a, b);
    if (hi > 0) r += std::min(a, b) / hi;
  }
  return r / double(nb - k0 - 1);
}

// The running mean's start: m from bin max(k0 − 7, 4), then at least one step
// to the next bin, m = (m + value)/2, until bin k0 is reached.
template <class F>
double RunningMeanStart(int32_t k0, F&& value) {
  int32_t i = std::max(k0 - 7, 4);
  double m = value(i);
  do {
    ++i;
    m = (m + value(i)) * 0.5;
  } while (i < k0);
  return m;
}

// Gains of a plane's bins from its mean amplitude spectrum A: 5.0 marks a bin
// that stays; below it, the share of the running mean the bin is pulled to.
std::vector<float> InterferenceGains(const std::vector<float>& A, int32_t k0) {
  const int32_t nb = int32_t(A.size());
  std::vector<double> mn(size_t(nb), Big);
  for (int32_t k = k0; k < nb; ++k) {
    int32_t l, u;
    InterferenceWindow(k, k0, nb, l, u);
    double m = Big;
    for (int32_t j = l; j <= u; ++j) m = std::min(m, double(A[size_t(k + j)]));
    mn[size_t(k)] = m;
  }
  std::vector<float> G(size_t(nb), 0.0f);
  const double r1 = Roughness(k0, nb, [&](int32_t k) { return double(A[size_t(k)]); });
  const double q1 = std::max(0.95 * r1 * 0.95 * r1, 0.01);
  for (int32_t k = k0; k < nb; ++k)
    G[size_t(k)] = A[size_t(k)] * q1 <= mn[size_t(k)] ? 1.0f : float(mn[size_t(k)] / (q1 * A[size_t(k)]));
  const double r2 = Roughness(k0, nb, [&](int32_t k) { return double(A[size_t(k)]) * double(G[size_t(k)]); });
  const double q2 = std::max(0.96 * r2 * 0.96 * r2, 0.01);
  double m = RunningMeanStart(k0, [&](int32_t i) { return double(A[size_t(i)]); });
  for (int32_t k = k0; k < nb; ++k) {
    G[size_t(k)] = A[size_t(k)] * q2 <= mn[size_t(k)] ? 5.0f : float(mn[size_t(k)] / (q2 * m));
    m = 0.2 * (4.0 * m + A[size_t(k)]);
  }
  return G;
}

}  // namespace

TInterferenceBins InterferenceBins(int32_t width) {
  TInterferenceBins b;
  b.N = NextPowerOfTwo(width);
  b.Bins = b.N / 2 + 1;
  b.K0 = b.Bins / 12;
  return b;
}

void InterferenceWindow(int32_t k, int32_t k0, int32_t nb, int32_t& lower, int32_t& upper) {
  upper = (5 * k) / nb;
  if (k >= nb - upper) upper = nb - k - 1;
  lower = k > k0 + 6 ? -7 : k0 - k;
}

void RemoveInterference1D(int source, int destination) {
  if (!SlotInUse(source) || !SlotInUse(destination)) return;
  const TImageSlot& src = Store.Image[source];
  TImageSlot& dst = Store.Image[destination];
  const int32_t w = src.Width, h = src.Height;
  const size_t n = size_t(w) * size_t(h);
  if (w < 1 || h < 1 || dst.Width != w || dst.Height != h || dst.PlaneCount < src.PlaneCount) return;
  for (int p = 1; p <= src.PlaneCount; ++p)
    if (src.Planes[p].size() < n || dst.Planes[p].size() < n) return;
  if (w < 9) {
    if (source != destination)
      for (int p = 1; p <= src.PlaneCount; ++p) std::copy_n(src.Planes[p].begin(), n, dst.Planes[p].begin());
    return;
  }
  const TInterferenceBins bins = InterferenceBins(w);
  const int32_t N = bins.N, nb = bins.Bins, k0 = bins.K0;
  const auto plan = FftPlanFor(N);
  const std::vector<double> taper = TaperTable(N - w + 1);
  const int lanes = FftLaneCount(Sse2Enabled);
  const int64_t blocks = (h + BlockRows - 1) / BlockRows;
  const int threads = SpectrumThreads(blocks, int64_t(N) * BlockRows);
  // Each block of rows in groups of 2·lanes rows from the block's start.
  auto forEachGroup = [&](int64_t block, TRowSpectra& spectra, auto&& fn) {
    const int64_t end = std::min<int64_t>(h, (block + 1) * BlockRows);
    for (int64_t first = block * BlockRows; first < end; first += spectra.RowsPerGroup())
      fn(first, int(std::min<int64_t>(spectra.RowsPerGroup(), end - first)));
  };
  for (int p = 1; p <= src.PlaneCount; ++p) {
    const float* in = src.Planes[p].data();
    // 1. The mean amplitude spectrum of all rows.
    std::vector<double> partial(size_t(blocks) * size_t(nb), 0.0);
    ForEachBand(blocks, threads, [&](int64_t b0, int64_t b1) {
      TRowSpectra spectra(*plan, lanes, w, taper);
      for (int64_t block = b0; block < b1; ++block) {
        double* sum = partial.data() + size_t(block) * size_t(nb);
        forEachGroup(block, spectra, [&](int64_t first, int count) {
          spectra.Forward(in, first, count);
          for (int q = 0; q < count; ++q) {
            const double* a = spectra.Amplitudes(q);
            for (int32_t k = k0; k < nb; ++k) sum[k] += a[k];
          }
        });
      }
    });
    std::vector<float> A(size_t(nb), 0.0f);
    for (int32_t k = k0; k < nb; ++k) {
      double s = 0;
      for (int64_t block = 0; block < blocks; ++block) s += partial[size_t(block) * size_t(nb) + size_t(k)];
      A[size_t(k)] = float(s / h);
    }
    // 2.–6. Gains.
    const std::vector<float> G = InterferenceGains(A, k0);
    // 7. Every row's marked bins pulled to G times the running mean of its own amplitudes.
    float* out = dst.Planes[p].data();
    ForEachBand(blocks, threads, [&](int64_t b0, int64_t b1) {
      TRowSpectra spectra(*plan, lanes, w, taper);
      for (int64_t block = b0; block < b1; ++block)
        forEachGroup(block, spectra, [&](int64_t first, int count) {
          spectra.Forward(in, first, count);
          for (int q = 0; q < count; ++q) {
            double* re = spectra.Re(q);
            double* im = spectra.Im(q);
            const double* amplitude = spectra.Amplitudes(q);
            double m = RunningMeanStart(k0, [&](int32_t i) { return amplitude[i]; });
            for (int32_t k = k0; k < nb; ++k) {
              const double a = amplitude[k];
              if (G[size_t(k)] < 1.5f && a > 0) {
                const double f = G[size_t(k)] * m / a;
                re[k] *= f;
                im[k] *= f;
              }
              m = 0.2 * (4.0 * m + a);
            }
          }
          spectra.Inverse(out, first, count);
        });
    });
  }
  UpdateMinMax(destination);
}

}  // namespace astrelon

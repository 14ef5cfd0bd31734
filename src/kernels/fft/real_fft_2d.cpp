#include "kernels/fft/real_fft_2d.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "kernels/fft/fft_lines.h"
#include "platform/lane_transposes.h"
#include "platform/simd_support.h"

namespace astrelon {

namespace {

#if ASTRELON_HAVE_AVX2
// GCC 12 takes the undefined pass-through operand of some 512-bit intrinsics
// for an uninitialised value.
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// TRealLinePairs::SplitBin for bins k0 .. k0 + 7 of all eight lanes at once
// (the same operations), the bins of each line then stored side by side:
// line a of lane l at ra[l], line b at rb[l] (re and im; nullptr: not stored).
ASTRELON_AVX512 void SplitEightBins(const double* pre, const double* pim, int32_t n, int32_t k0, double* const* ra,
                                    double* const* rai, double* const* rb, double* const* rbi) {
  __m512d ar[8], ai[8], br[8], bi[8];
  const __m512d half = _mm512_set1_pd(0.5);
  for (int j = 0; j < 8; ++j) {
    const int32_t k = k0 + j, nk = k == 0 ? 0 : n - k;
    const __m512d xr = _mm512_loadu_pd(pre + size_t(k) * 8), xi = _mm512_loadu_pd(pim + size_t(k) * 8);
    if (k == 0) {
      ar[j] = xr, ai[j] = _mm512_setzero_pd(), br[j] = xi, bi[j] = _mm512_setzero_pd();
      continue;
    }
    const __m512d yr = _mm512_loadu_pd(pre + size_t(nk) * 8), yi = _mm512_loadu_pd(pim + size_t(nk) * 8);
    ar[j] = _mm512_mul_pd(_mm512_add_pd(xr, yr), half);
    ai[j] = _mm512_mul_pd(_mm512_sub_pd(xi, yi), half);
    br[j] = _mm512_mul_pd(_mm512_add_pd(xi, yi), half);
    bi[j] = _mm512_mul_pd(_mm512_sub_pd(yr, xr), half);
  }
  TransposeDoubles8(ar), TransposeDoubles8(ai), TransposeDoubles8(br), TransposeDoubles8(bi);
  for (int l = 0; l < 8; ++l) {
    if (ra[l]) _mm512_storeu_pd(ra[l], ar[l]), _mm512_storeu_pd(rai[l], ai[l]);
    if (rb[l]) _mm512_storeu_pd(rb[l], br[l]), _mm512_storeu_pd(rbi[l], bi[l]);
  }
}
#endif

}  // namespace

int32_t NextFastFftSize(int32_t n) {
  for (int32_t m = std::max(n, 1);; ++m) {
    int32_t r = m;
    for (int32_t f : {2, 3, 5})
      while (r % f == 0) r /= f;
    if (r == 1) return m;
  }
}

TRealFft2D::TRealFft2D(int32_t nx, int32_t ny, bool vector)
    : nx_(nx), ny_(ny), lanes_(UseAvx512(vector) ? 8 : FftLaneCount(vector)), groups_(0), planX_(FftPlanFor(nx)),
      planY_(FftPlanFor(ny)) {
  if (!planX_ || !planY_) throw std::invalid_argument("TRealFft2D: no transform of that length");
  groups_ = (HalfBins() + lanes_ - 1) / lanes_;
  lines_ = std::make_unique<TRealLinePairs>(*planX_, lanes_);
  lineA_.resize(size_t(lanes_) * size_t(nx));
  lineB_.resize(lineA_.size());
  binRe_.resize(2 * size_t(lanes_) * size_t(HalfBins()));
  binIm_.resize(binRe_.size());
}

TRealFft2D::~TRealFft2D() = default;

void TRealFft2D::Shape(TLaneSpectrum& s) const {
  s.Resize(size_t(groups_) * size_t(ny_) * size_t(lanes_));
}

void TRealFft2D::Forward(const double* image, int32_t w, int32_t h, int64_t stride, TLaneSpectrum& out,
                         double offset) {
  ForwardOf(image, w, h, stride, out, offset);
}

void TRealFft2D::Forward(const float* image, int32_t w, int32_t h, int64_t stride, TLaneSpectrum& out,
                         double offset) {
  ForwardOf(image, w, h, stride, out, offset);
}

template <class T>
void TRealFft2D::ForwardOf(const T* image, int32_t w, int32_t h, int64_t stride, TLaneSpectrum& out,
                           double offset) {
  Shape(out);
  const int32_t half = HalfBins();
  const int L = lanes_;
  double* const re = out.Re();
  double* const im = out.Im();
  // Row v of the image stands where the column transforms read it: at its
  // permuted place in every group.
  const int32_t* place = planY_->Permutation.data();
  const size_t group = size_t(ny_) * size_t(L);
  // Calls f(bins, at) for the groups of row v: bins of that group from its
  // first, `at` the offset of row v's first lane there.
  auto groupsOf = [&](int32_t v, auto&& f) {
    const size_t row = size_t(place[v]) * size_t(L);
    for (int32_t g = 0; g < groups_; ++g) f(g * L, std::min(L, half - g * L), g * group + row);
  };
  for (int32_t v = std::max(h, 0); v < ny_; ++v)
    groupsOf(v, [&](int32_t, int used, size_t at) {
      std::fill_n(re + at, used, 0.0);
      std::fill_n(im + at, used, 0.0);
    });
  TRealLinePairs& lines = *lines_;
  // Rows two per lane, 2·L rows per transform.
  for (int32_t r0 = 0; r0 < h; r0 += 2 * L) {
    TRealLinePairs::TLines<double> a{}, b{};
    for (int l = 0; l < L; ++l) {
      const int32_t ra = r0 + 2 * l, rb = ra + 1;
      double* la = lineA_.data() + size_t(l) * size_t(nx_);
      double* lb = lineB_.data() + size_t(l) * size_t(nx_);
      auto load = [&](int32_t r, double* line) {
        const T* row = image + r * stride;
        for (int32_t x = 0; x < w; ++x) line[x] = double(row[x]) - offset;
        std::fill(line + w, line + nx_, 0.0);
      };
      if (ra < h) load(ra, la), a[size_t(l)] = la;
      if (rb < h) load(rb, lb), b[size_t(l)] = lb;
    }
    lines.LoadPairs(a, b);
    lines.Transform();
    int32_t split = 0;  // bins split eight lanes at a time
#if ASTRELON_HAVE_AVX2
    if (L == 8 && CpuRunsAvx512()) {
      double *ra[8], *rai[8], *rb[8], *rbi[8];
      for (; split + 8 <= half; split += 8) {
        const size_t g = size_t(split / 8) * group;
        for (int l = 0; l < 8; ++l) {
          const int32_t va = r0 + 2 * l, vb = va + 1;
          ra[l] = va < h ? re + g + size_t(place[va]) * 8 : nullptr;
          rai[l] = va < h ? im + g + size_t(place[va]) * 8 : nullptr;
          rb[l] = vb < h ? re + g + size_t(place[vb]) * 8 : nullptr;
          rbi[l] = vb < h ? im + g + size_t(place[vb]) * 8 : nullptr;
        }
        SplitEightBins(lines.PointsRe(), lines.PointsIm(), nx_, split, ra, rai, rb, rbi);
      }
    }
#endif
    for (int l = 0; l < L; ++l) {
      const int32_t ra = r0 + 2 * l, rb = ra + 1;
      if (ra >= h) break;
      const size_t other = (size_t(place[std::min(rb, h - 1)]) - size_t(place[ra])) * size_t(L);
      groupsOf(ra, [&](int32_t k0, int used, size_t at) {
        for (int j = std::max(split - k0, 0); j < used; ++j) {
          double ar, ai, br, bi;
          lines.SplitBin(l, k0 + j, ar, ai, br, bi);
          re[at + size_t(j)] = ar;
          im[at + size_t(j)] = ai;
          if (rb < h) {
            re[at + other + size_t(j)] = br;
            im[at + other + size_t(j)] = bi;
          }
        }
      });
    }
  }
  // The column transforms of each group in place.
  for (int32_t g = 0; g < groups_; ++g) RunFftPasses(*planY_, re + g * group, im + g * group, L);
}

void TRealFft2D::Inverse(const TLaneSpectrum& in, int32_t w, int32_t h, double* out, int64_t stride) {
  const int32_t half = HalfBins();
  const int L = lanes_;
  Shape(work_);
  // The column transforms of the conjugated spectrum give the unscaled
  // inverse, conjugated; each group's rows read at their permuted places.
  const int32_t* input = planY_->InputAt.data();
  const size_t group = size_t(ny_) * size_t(L);
  double* const wr = work_.Re();
  double* const wi = work_.Im();
  for (int32_t g = 0; g < groups_; ++g) {
    const double* sr = in.Re() + g * group;
    const double* si = in.Im() + g * group;
    double* r = wr + g * group;
    double* m = wi + g * group;
    for (int32_t p = 0; p < ny_; ++p) {
      const size_t from = size_t(input[p]) * size_t(L), to = size_t(p) * size_t(L);
      for (int l = 0; l < L; ++l) {
        r[to + size_t(l)] = sr[from + size_t(l)];
        m[to + size_t(l)] = -1.0 * si[from + size_t(l)];
      }
    }
    RunFftPasses(*planY_, r, m, L);
    for (size_t i = 0; i < group; ++i) m[i] = -1.0 * m[i];
  }
  const double scale = 1.0 / (double(nx_) * double(ny_));
  TRealLinePairs& lines = *lines_;
  // Row v's bins gathered from the groups: two rows per lane.
  auto bins = [&](int32_t v, int slot) {
    double* br = binRe_.data() + size_t(slot) * size_t(half);
    double* bi = binIm_.data() + size_t(slot) * size_t(half);
    for (int32_t g = 0, k = 0; g < groups_; ++g) {
      const size_t at = g * group + size_t(v) * size_t(L);
      for (int l = 0; l < L && k < half; ++l, ++k) br[k] = wr[at + size_t(l)], bi[k] = wi[at + size_t(l)];
    }
    return std::pair<const double*, const double*>(br, bi);
  };
  for (int32_t r0 = 0; r0 < h; r0 += 2 * L) {
    TRealLinePairs::TLines<double> aRe{}, aIm{}, bRe{}, bIm{};
    for (int l = 0; l < L; ++l) {
      const int32_t ra = r0 + 2 * l, rb = ra + 1;
      if (ra < h) std::tie(aRe[size_t(l)], aIm[size_t(l)]) = bins(ra, 2 * l);
      if (rb < h) std::tie(bRe[size_t(l)], bIm[size_t(l)]) = bins(rb, 2 * l + 1);
    }
    lines.LoadHermitianPairs(aRe, aIm, bRe, bIm, true);
    lines.Transform();
    for (int l = 0; l < L; ++l) {
      const int32_t ra = r0 + 2 * l, rb = ra + 1;
      if (ra >= h) break;
      // The conjugated spectra's forward transform is the unscaled inverse,
      // conjugated; the lines being real, their values stand as they are.
      for (int32_t x = 0; x < w; ++x) out[ra * stride + x] = lines.Re(l, x) * scale;
      if (rb < h)
        for (int32_t x = 0; x < w; ++x) out[rb * stride + x] = lines.Im(l, x) * scale;
    }
  }
}

void TRealFft2D::Forward(const double* image, int32_t w, int32_t h, int64_t stride, THalfSpectrum& out,
                         double offset) {
  ForwardOf(image, w, h, stride, rows_, offset);
  const int32_t half = HalfBins();
  const int L = lanes_;
  out.Re.resize(size_t(half) * size_t(ny_));
  out.Im.resize(out.Re.size());
  for (int32_t v = 0; v < ny_; ++v)
    for (int32_t k = 0; k < half; ++k) {
      const size_t at = (size_t(k / L) * size_t(ny_) + size_t(v)) * size_t(L) + size_t(k % L);
      out.Re[size_t(v) * size_t(half) + size_t(k)] = rows_.Re()[at];
      out.Im[size_t(v) * size_t(half) + size_t(k)] = rows_.Im()[at];
    }
}

void TRealFft2D::Inverse(const THalfSpectrum& in, int32_t w, int32_t h, double* out, int64_t stride) {
  Shape(rows_);
  const int32_t half = HalfBins();
  const int L = lanes_;
  for (int32_t v = 0; v < ny_; ++v)
    for (int32_t k = 0; k < half; ++k) {
      const size_t at = (size_t(k / L) * size_t(ny_) + size_t(v)) * size_t(L) + size_t(k % L);
      rows_.Re()[at] = in.Re[size_t(v) * size_t(half) + size_t(k)];
      rows_.Im()[at] = in.Im[size_t(v) * size_t(half) + size_t(k)];
    }
  Inverse(rows_, w, h, out, stride);
}

}  // namespace astrelon

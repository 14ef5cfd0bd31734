#include "kernels/fft/real_fft_2d.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "kernels/fft/fft_lines.h"

namespace astrelon {

int32_t NextFastFftSize(int32_t n) {
  for (int32_t m = std::max(n, 1);; ++m) {
    int32_t r = m;
    for (int32_t f : {2, 3, 5})
      while (r % f == 0) r /= f;
    if (r == 1) return m;
  }
}

TRealFft2D::TRealFft2D(int32_t nx, int32_t ny, bool vector)
    : nx_(nx), ny_(ny), lanes_(FftLaneCount(vector)), planX_(FftPlanFor(nx)), planY_(FftPlanFor(ny)) {
  if (!planX_ || !planY_) throw std::invalid_argument("TRealFft2D: no transform of that length");
  lines_ = std::make_unique<TRealLinePairs>(*planX_, lanes_);
  columns_.Resize(ny, lanes_);
  lineA_.resize(size_t(lanes_) * size_t(nx));
  lineB_.resize(lineA_.size());
}

TRealFft2D::~TRealFft2D() = default;

void TRealFft2D::Forward(const double* image, int32_t w, int32_t h, int64_t stride, THalfSpectrum& out,
                         double offset) {
  ForwardOf(image, w, h, stride, out, offset);
}

void TRealFft2D::Forward(const float* image, int32_t w, int32_t h, int64_t stride, THalfSpectrum& out,
                         double offset) {
  ForwardOf(image, w, h, stride, out, offset);
}

template <class T>
void TRealFft2D::ForwardOf(const T* image, int32_t w, int32_t h, int64_t stride, THalfSpectrum& out,
                           double offset) {
  const int32_t half = HalfBins();
  const int L = lanes_;
  // Rows below h are all written; only the padding rows start as zeros.
  const size_t size = size_t(half) * size_t(ny_), written = size_t(half) * size_t(std::max(h, 0));
  for (auto* v : {&out.Re, &out.Im}) {
    v->resize(size);
    std::fill(v->begin() + std::ptrdiff_t(std::min(written, size)), v->end(), 0.0);
  }
  TRealLinePairs& lines = *lines_;
  // Rows two per lane, 2·L rows per transform; rows from h on are zeros.
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
    for (int l = 0; l < L; ++l) {
      const int32_t ra = r0 + 2 * l, rb = ra + 1;
      if (ra >= h) break;
      for (int32_t k = 0; k < half; ++k) {
        double ar, ai, br, bi;
        lines.SplitBin(l, k, ar, ai, br, bi);
        const size_t at = size_t(ra) * size_t(half) + size_t(k);
        out.Re[at] = ar;
        out.Im[at] = ai;
        if (rb < h) {
          out.Re[at + size_t(half)] = br;
          out.Im[at + size_t(half)] = bi;
        }
      }
    }
  }
  Columns(out, false);
}

// The transforms along the columns of every bin, L bins side by side; the
// inverse runs the forward passes on conjugates.
void TRealFft2D::Columns(THalfSpectrum& s, bool inverse) {
  switch (lanes_) {
    case 4: ColumnsOf<4>(s, inverse); break;
    case 2: ColumnsOf<2>(s, inverse); break;
    default: ColumnsOf<1>(s, inverse); break;
  }
}

// The lane count fixed, so that the moves of each row's L bins are plain
// vector moves.
template <int L>
void TRealFft2D::ColumnsOf(THalfSpectrum& s, bool inverse) {
  const int32_t half = HalfBins();
  const double sign = inverse ? -1.0 : 1.0;
  TFftLaneBuffer& buf = columns_;
  const int32_t* input = planY_->InputAt.data();
  double* const re = buf.Re();
  double* const im = buf.Im();
  for (int32_t k0 = 0; k0 < half; k0 += L) {
    const int used = std::min(L, half - k0);
    for (int32_t p = 0; p < ny_; ++p) {
      const size_t row = size_t(input[p]) * size_t(half) + size_t(k0);
      double* r = re + size_t(p) * size_t(L);
      double* m = im + size_t(p) * size_t(L);
      if (used == L) {
        // All loads before the stores: the compiler moves the L values at once.
        double tr[L], ti[L];
        for (int l = 0; l < L; ++l) tr[l] = s.Re[row + size_t(l)], ti[l] = sign * s.Im[row + size_t(l)];
        std::memcpy(r, tr, sizeof tr);
        std::memcpy(m, ti, sizeof ti);
        continue;
      }
      // The last group: its unused lanes repeat its last bin.
      for (int l = 0; l < L; ++l) {
        const size_t at = row + size_t(std::min(l, used - 1));
        r[l] = s.Re[at];
        m[l] = sign * s.Im[at];
      }
    }
    RunFftPasses(*planY_, re, im, L);
    for (int32_t i = 0; i < ny_; ++i) {
      const size_t row = size_t(i) * size_t(half) + size_t(k0);
      const double* r = re + size_t(i) * size_t(L);
      const double* m = im + size_t(i) * size_t(L);
      if (used == L) {
        double tr[L], ti[L];
        for (int l = 0; l < L; ++l) tr[l] = r[l], ti[l] = sign * m[l];
        std::memcpy(s.Re.data() + row, tr, sizeof tr);
        std::memcpy(s.Im.data() + row, ti, sizeof ti);
        continue;
      }
      for (int l = 0; l < used; ++l) s.Re[row + size_t(l)] = r[l], s.Im[row + size_t(l)] = sign * m[l];
    }
  }
}

void TRealFft2D::Inverse(THalfSpectrum& s, int32_t w, int32_t h, double* out, int64_t stride) {
  const int32_t half = HalfBins();
  const int L = lanes_;
  Columns(s, true);
  const double scale = 1.0 / (double(nx_) * double(ny_));
  TRealLinePairs& lines = *lines_;
  // Row v's bins stand together: two rows per lane.
  auto bins = [&](int32_t v) {
    const size_t at = size_t(v) * size_t(half);
    return std::pair<const double*, const double*>(s.Re.data() + at, s.Im.data() + at);
  };
  for (int32_t r0 = 0; r0 < h; r0 += 2 * L) {
    TRealLinePairs::TLines<double> aRe{}, aIm{}, bRe{}, bIm{};
    for (int l = 0; l < L; ++l) {
      const int32_t ra = r0 + 2 * l, rb = ra + 1;
      if (ra < h) std::tie(aRe[size_t(l)], aIm[size_t(l)]) = bins(ra);
      if (rb < h) std::tie(bRe[size_t(l)], bIm[size_t(l)]) = bins(rb);
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

}  // namespace astrelon

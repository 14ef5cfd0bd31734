// GCC 12 takes the undefined pass-through operand of some 512-bit intrinsics
// for an uninitialised value (the warning points into their header).
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include "kernels/alignment/cost_grid_fft.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

#include "kernels/alignment/block_match_cost.h"
#include "kernels/fft/real_fft_2d.h"
#include "kernels/fft/real_fft_2d_single.h"
#include "platform/lane_transposes.h"
#include "platform/simd_support.h"
#include "platform/vector_lanes.h"
#include "store/image_slot.h"

#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

// conj(x) · y times `factor`, added to out; `first` starts out from zeros.
void AddConjugateProduct(const TLaneSpectrum& x, const TLaneSpectrum& y, double factor, TLaneSpectrum& out,
                         bool first = false) {
  const size_t n = x.Size();
  const double *xr = x.Re(), *xi = x.Im(), *yr = y.Re(), *yi = y.Im();
  if (first) out.Resize(n);
  double *outRe = out.Re(), *outIm = out.Im();
  if (first) {
    for (size_t k = 0; k < n; ++k) {
      outRe[k] = 0.0 + factor * (xr[k] * yr[k] + xi[k] * yi[k]);
      outIm[k] = 0.0 + factor * (xr[k] * yi[k] - xi[k] * yr[k]);
    }
    return;
  }
  for (size_t k = 0; k < n; ++k) {
    outRe[k] += factor * (xr[k] * yr[k] + xi[k] * yi[k]);
    outIm[k] += factor * (xr[k] * yi[k] - xi[k] * yr[k]);
  }
}

// Mean of the valid values of a rectangle (0 without any).
double ValidMean(std::span<const float> v, int32_t w, int32_t h, int64_t stride) {
  double sum = 0;
  int64_t n = 0;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const float a = v[size_t(y * stride + x)];
      if (IsValidPixel(a)) sum += a, ++n;
    }
  return n > 0 ? sum / double(n) : 0.0;
}

// Whether every value of a rectangle is valid, and a value near their mean (an
// offset that keeps the sums small; any value would give the same costs): the
// valid values of each row summed in eight float lanes, the rows' lanes
// added up, the rest of each row one by one, then the lanes in order.
struct TRectScan {
  bool AllValid = true;
  double Mean = 0;
};

// (Selections on one comparison each: GCC lowers combined masks of an inlined
// function for the default processor.)
[[gnu::always_inline]] inline TRectScan ScanRectOf(const float* v, int32_t w, int32_t h, int64_t stride) {
  using simd::TVec8f;
  TVec8f sum{}, blank{};
  float rest = 0;
  bool restValid = true;
  for (int32_t y = 0; y < h; ++y) {
    const float* row = v + y * stride;
    int32_t x = 0;
    TVec8f rowSum{};
    for (; x + 8 <= w; x += 8) {
      const TVec8f a = simd::LoadLanes<TVec8f>(row + x);
      blank = a > BlankLimit ? blank : 1.0f;
      rowSum += a > BlankLimit ? a : 0.0f;
    }
    sum += rowSum;
    for (; x < w; ++x) {
      restValid &= IsValidPixel(row[x]);
      rest += IsValidPixel(row[x]) ? row[x] : 0.0f;
    }
  }
  TRectScan r;
  for (int l = 0; l < 8; ++l) r.AllValid &= blank[l] == 0.0f, rest += sum[l];
  r.AllValid &= restValid;
  r.Mean = double(rest) / (double(w) * double(h));
  return r;
}

TRectScan ScanRectPlain(const float* v, int32_t w, int32_t h, int64_t stride) { return ScanRectOf(v, w, h, stride); }
#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 TRectScan ScanRectAvx2(const float* v, int32_t w, int32_t h, int64_t stride) {
  return ScanRectOf(v, w, h, stride);
}
#endif

TRectScan ScanRect(std::span<const float> v, int32_t w, int32_t h, int64_t stride) {
#if ASTRELON_HAVE_AVX2
  if (CpuHasAvx2()) return ScanRectAvx2(v.data(), w, h, stride);
#endif
  return ScanRectPlain(v.data(), w, h, stride);
}

// out := the image of f(value) (0 for invalid values) in double, w x h.
template <class F>
void Mapped(std::span<const float> v, int32_t w, int32_t h, int64_t stride, F&& f, std::vector<double>& out) {
  out.resize(size_t(w) * size_t(h));
  for (int32_t y = 0; y < h; ++y) {
    const float* row = v.data() + y * stride;
    double* o = out.data() + size_t(y) * size_t(w);
    for (int32_t x = 0; x < w; ++x) o[x] = IsValidPixel(row[x]) ? f(double(row[x])) : 0.0;
  }
}

// Sums of the values (less `offset`) and of their squares over the w x h
// windows of an image (rw x rh) at each of the nx x ny cells: sums along each
// row's window (rowSums, rowSquares: nx per row), then down each column of
// those. Each window anew from its own values every 64 steps, so that
// rounding does not build up.
void RowWindowSums(std::span<const float> image, int64_t stride, int32_t rh, int32_t w, int32_t nx, double offset,
                   double* rowSums, double* rowSquares) {
  // Four rows side by side, each with its own sums in its own order (the same
  // values as one row at a time, without waiting on one chain of additions).
  constexpr int Rows = 4;
  const size_t lineSize = size_t(w + nx - 1);
  std::vector<double> lines(Rows * lineSize);
  std::array<double, Rows> s{}, q{};
  for (int32_t y0 = 0; y0 < rh; y0 += Rows) {
    const int used = std::min<int32_t>(Rows, rh - y0);
    std::array<const double*, Rows> v{};
    for (int r = 0; r < Rows; ++r) {
      double* __restrict line = lines.data() + size_t(r) * lineSize;
      if (r < used) {
        const float* __restrict row = image.data() + (y0 + r) * stride;
        const double off = offset;
        for (size_t x = 0; x < lineSize; ++x) line[x] = double(row[x]) - off;
      }
      v[size_t(r)] = r < used ? line : lines.data();  // rows past the end repeat the first, unused
    }
    auto fresh = [&](int32_t from) {
      // Sums in named locals, so that they stay in registers.
      static_assert(Rows == 4);
      const double *v0 = v[0], *v1 = v[1], *v2 = v[2], *v3 = v[3];
      double s0 = 0, s1 = 0, s2 = 0, s3 = 0, q0 = 0, q1 = 0, q2 = 0, q3 = 0;
      for (int32_t x = from; x < from + w; ++x) {
        const double a0 = v0[x], a1 = v1[x], a2 = v2[x], a3 = v3[x];
        s0 += a0, q0 += a0 * a0;
        s1 += a1, q1 += a1 * a1;
        s2 += a2, q2 += a2 * a2;
        s3 += a3, q3 += a3 * a3;
      }
      s = {s0, s1, s2, s3}, q = {q0, q1, q2, q3};
    };
    auto store = [&](int32_t i) {
      for (int r = 0; r < used; ++r) {
        rowSums[size_t(y0 + r) * size_t(nx) + size_t(i)] = s[size_t(r)];
        rowSquares[size_t(y0 + r) * size_t(nx) + size_t(i)] = q[size_t(r)];
      }
    };
    fresh(0);
    store(0);
    for (int32_t i = 1; i < nx; ++i) {
      if (i % 64 == 0) {
        fresh(i);
      } else {
        for (int r = 0; r < Rows; ++r) {
          const double in = v[size_t(r)][i + w - 1], out = v[size_t(r)][i - 1];
          s[size_t(r)] += in - out;
          q[size_t(r)] += in * in - out * out;
        }
      }
      store(i);
    }
  }
}

void ColumnWindowSums(const double* rowSums, const double* rowSquares, int32_t h, int32_t nx, int32_t ny,
                      double* sums, double* squares) {
  std::fill_n(sums, size_t(nx) * size_t(ny), 0.0);
  std::fill_n(squares, size_t(nx) * size_t(ny), 0.0);
  auto add = [&](int32_t j, int32_t y, double sign) {
    double* __restrict s = sums + size_t(j) * size_t(nx);
    double* __restrict q = squares + size_t(j) * size_t(nx);
    const double* __restrict rs = rowSums + size_t(y) * size_t(nx);
    const double* __restrict rq = rowSquares + size_t(y) * size_t(nx);
    for (int32_t i = 0; i < nx; ++i) s[i] += sign * rs[i], q[i] += sign * rq[i];
  };
  for (int32_t j = 0; j < ny; ++j) {
    if (j % 64 == 0) {
      for (int32_t y = j; y < j + h; ++y) add(j, y, 1.0);
      continue;
    }
    std::copy_n(sums + size_t(j - 1) * size_t(nx), nx, sums + size_t(j) * size_t(nx));
    std::copy_n(squares + size_t(j - 1) * size_t(nx), nx, squares + size_t(j) * size_t(nx));
    add(j, j + h - 1, 1.0);
    add(j, j - 1, -1.0);
  }
}

#if ASTRELON_HAVE_AVX2
// RowWindowSums with eight rows side by side, one per lane: each lane adds
// what the four-row loop adds for its row, in the same order.
ASTRELON_AVX512 void RowWindowSumsAvx512(const float* image, int64_t stride, int32_t rh, int32_t w, int32_t nx,
                                         double offset, double* rowSums, double* rowSquares) {
  const int32_t lineSize = w + nx - 1;
  std::vector<double> lines(size_t(lineSize + 8) * 8);
  const __m512d off = _mm512_set1_pd(offset);
  for (int32_t y0 = 0; y0 < rh; y0 += 8) {
    const int used = std::min<int32_t>(8, rh - y0);
    // Column x of the eight rows at lines[8x] (rows past the end repeat the first, unused).
    for (int32_t x0 = 0; x0 < lineSize; x0 += 8) {
      const __mmask8 part = __mmask8((1u << std::min(8, lineSize - x0)) - 1);
      __m512d r[8];
      for (int k = 0; k < 8; ++k)
        r[k] = _mm512_cvtps_pd(_mm256_maskz_loadu_ps(part, image + (y0 + (k < used ? k : 0)) * stride + x0));
      TransposeDoubles8(r);
      for (int k = 0; k < 8; ++k) _mm512_storeu_pd(lines.data() + size_t(x0 + k) * 8, _mm512_sub_pd(r[k], off));
    }
    const double* line = lines.data();
    __m512d s = _mm512_setzero_pd(), q = s, bs[8], bq[8];
    for (int32_t i = 0; i < nx; ++i) {
      if (i % 64 == 0) {
        s = _mm512_setzero_pd(), q = s;
        for (int32_t x = i; x < i + w; ++x) {
          const __m512d a = _mm512_loadu_pd(line + size_t(x) * 8);
          s = _mm512_add_pd(s, a);
          q = _mm512_add_pd(q, _mm512_mul_pd(a, a));
        }
      } else {
        const __m512d in = _mm512_loadu_pd(line + size_t(i + w - 1) * 8);
        const __m512d out = _mm512_loadu_pd(line + size_t(i - 1) * 8);
        s = _mm512_add_pd(s, _mm512_sub_pd(in, out));
        q = _mm512_add_pd(q, _mm512_sub_pd(_mm512_mul_pd(in, in), _mm512_mul_pd(out, out)));
      }
      // Eight windows of the rows gathered, then stored row by row.
      bs[i % 8] = s, bq[i % 8] = q;
      if (i % 8 == 7 || i == nx - 1) {
        const int32_t i0 = i - i % 8;
        const __mmask8 part = __mmask8((1u << (i - i0 + 1)) - 1);
        TransposeDoubles8(bs), TransposeDoubles8(bq);
        for (int r = 0; r < used; ++r) {
          _mm512_mask_storeu_pd(rowSums + size_t(y0 + r) * size_t(nx) + size_t(i0), part, bs[r]);
          _mm512_mask_storeu_pd(rowSquares + size_t(y0 + r) * size_t(nx) + size_t(i0), part, bq[r]);
        }
      }
    }
  }
}

// Cells i0 .. of row y (those in `part`).
ASTRELON_AVX512 inline __m512d CellsOfRow(const double* p, __mmask8 part, int32_t y, int32_t nx, int32_t i0) {
  return _mm512_maskz_loadu_pd(part, p + size_t(y) * size_t(nx) + size_t(i0));
}

// ColumnWindowSums eight cells of a row at a time (the same sums in each).
ASTRELON_AVX512 void ColumnWindowSumsAvx512(const double* rowSums, const double* rowSquares, int32_t h, int32_t nx,
                                            int32_t ny, double* sums, double* squares) {
  for (int32_t i0 = 0; i0 < nx; i0 += 8) {
    const __mmask8 part = __mmask8((1u << std::min(8, nx - i0)) - 1);
    __m512d s = _mm512_setzero_pd(), q = s;
    const __m512d plus = _mm512_set1_pd(1.0), minus = _mm512_set1_pd(-1.0);
    for (int32_t j = 0; j < ny; ++j) {
      if (j % 64 == 0) {
        s = _mm512_setzero_pd(), q = s;
        for (int32_t y = j; y < j + h; ++y) {
          s = _mm512_add_pd(s, _mm512_mul_pd(plus, CellsOfRow(rowSums, part, y, nx, i0)));
          q = _mm512_add_pd(q, _mm512_mul_pd(plus, CellsOfRow(rowSquares, part, y, nx, i0)));
        }
      } else {
        s = _mm512_add_pd(s, _mm512_mul_pd(plus, CellsOfRow(rowSums, part, j + h - 1, nx, i0)));
        q = _mm512_add_pd(q, _mm512_mul_pd(plus, CellsOfRow(rowSquares, part, j + h - 1, nx, i0)));
        s = _mm512_add_pd(s, _mm512_mul_pd(minus, CellsOfRow(rowSums, part, j - 1, nx, i0)));
        q = _mm512_add_pd(q, _mm512_mul_pd(minus, CellsOfRow(rowSquares, part, j - 1, nx, i0)));
      }
      _mm512_mask_storeu_pd(sums + size_t(j) * size_t(nx) + i0, part, s);
      _mm512_mask_storeu_pd(squares + size_t(j) * size_t(nx) + i0, part, q);
    }
  }
}

// The plain loops' sums of the reference block less ma, element i in lane
// i mod 4, over the whole groups of four; returns how many elements it took.
ASTRELON_AVX512 size_t BlockMomentsAvx512(const float* ref, size_t count, double ma, double* sums, double* squares) {
  const __m256d m = _mm256_set1_pd(ma);
  __m256d a = _mm256_setzero_pd(), q = a;
  size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m256d v = _mm256_sub_pd(_mm256_cvtps_pd(_mm_loadu_ps(ref + i)), m);
    a = _mm256_add_pd(a, v);
    q = _mm256_add_pd(q, _mm256_mul_pd(v, v));
  }
  _mm256_storeu_pd(sums, a);
  _mm256_storeu_pd(squares, q);
  return i;
}

// CellCost of every cell of a grid without blank values (n = pairs > 0.5).
ASTRELON_AVX512 void CellCostsAvx512(const double* sb, const double* sb2, const double* ab, size_t cells, double pairs,
                                     double sa1, double sa2, double* cost) {
  const __m512d n = _mm512_set1_pd(pairs), a1 = _mm512_set1_pd(sa1), a2 = _mm512_set1_pd(sa2);
  const __m512d two = _mm512_set1_pd(2.0), zero = _mm512_setzero_pd();
  for (size_t c = 0; c < cells; c += 8) {
    const __mmask8 part = __mmask8((1u << std::min<size_t>(8, cells - c)) - 1);
    const __m512d s1 = _mm512_sub_pd(_mm512_maskz_loadu_pd(part, sb + c), a1);
    const __m512d s2 = _mm512_add_pd(
        _mm512_sub_pd(_mm512_maskz_loadu_pd(part, sb2 + c), _mm512_mul_pd(two, _mm512_maskz_loadu_pd(part, ab + c))),
        a2);
    const __m512d d = _mm512_div_pd(s1, n);
    const __m512d v = _mm512_sub_pd(_mm512_div_pd(s2, n), _mm512_mul_pd(d, d));
    // std::max(v, 0.0): v unless it lies below 0.
    _mm512_mask_storeu_pd(cost + c, part, _mm512_mask_blend_pd(_mm512_cmp_pd_mask(v, zero, _CMP_LT_OQ), v, zero));
  }
}
#endif

void WindowSums(std::span<const float> image, int64_t stride, int32_t rh, int32_t w, int32_t h, int32_t nx,
                int32_t ny, double offset, std::vector<double>& sums, std::vector<double>& squares,
                std::vector<double>& rowSums, std::vector<double>& rowSquares, bool vector) {
  rowSums.resize(size_t(nx) * size_t(rh));
  rowSquares.resize(rowSums.size());
  sums.resize(size_t(nx) * size_t(ny));
  squares.resize(sums.size());
#if ASTRELON_HAVE_AVX2
  if (UseAvx512(vector)) {
    RowWindowSumsAvx512(image.data(), stride, rh, w, nx, offset, rowSums.data(), rowSquares.data());
    ColumnWindowSumsAvx512(rowSums.data(), rowSquares.data(), h, nx, ny, sums.data(), squares.data());
    return;
  }
#endif
  RowWindowSums(image, stride, rh, w, nx, offset, rowSums.data(), rowSquares.data());
  ColumnWindowSums(rowSums.data(), rowSquares.data(), h, nx, ny, sums.data(), squares.data());
}

double CellCost(double n, double s1, double s2) {
  if (!(n > 0.5)) return NoBlockMatchCost;
  const double d = s1 / n;
  return std::max(s2 / n - d * d, 0.0);
}

}  // namespace

namespace {

// What one thread keeps between calls: the transform of the last size and the
// images and spectra, so that repeated measurements allocate nothing.
struct TGridWork {
  std::unique_ptr<TRealFft2D> Fft;
  std::unique_ptr<TRealFft2DSingle> Single;
  std::vector<double> A, B, B2, Ab, Sb, Sb2, N, S1, S2, RowSums, RowSquares;
  std::vector<float> AbSingle;
  TLaneSpectrum Spectra[6], Products[3];
  TSingleSpectrum SingleSpectra[3];
  TRealFft2D& FftFor(int32_t nx, int32_t ny, bool vector) {
    if (!Fft || Fft->Nx() != nx || Fft->Ny() != ny || Vector != vector) {
      Fft = std::make_unique<TRealFft2D>(nx, ny, vector);
      Vector = vector;
    }
    return *Fft;
  }
  TRealFft2DSingle& SingleFor(int32_t nx, int32_t ny, bool vector) {
    const int lanes = TRealFft2DSingle::LanesFor(vector);
    if (!Single || Single->Nx() != nx || Single->Ny() != ny || Single->Lanes() != lanes)
      Single = std::make_unique<TRealFft2DSingle>(nx, ny, lanes);
    return *Single;
  }
  bool Vector = false;
};

}  // namespace

std::vector<double> BlockMatchCostGrid(std::span<const float> ref, int32_t w, int32_t h,
                                       std::span<const float> region, int64_t stride, int32_t nx, int32_t ny,
                                       bool vector, TGridPrecision precision) {
  const int32_t rw = w + nx - 1, rh = h + ny - 1;
  std::vector<double> cost(size_t(std::max(nx, 0)) * size_t(std::max(ny, 0)), NoBlockMatchCost);
  if (w <= 0 || h <= 0 || nx <= 0 || ny <= 0) return cost;
  CheckRect(ref.size(), w, h, w);
  CheckRect(region.size(), rw, rh, stride);
  thread_local TGridWork work;
  const int32_t Nx = NextFastFftSize(rw), Ny = NextFastFftSize(rh);
  const size_t cells = cost.size();
  const TRectScan refScan = ScanRect(ref, w, h, w), regionScan = ScanRect(region, rw, rh, stride);
  if (refScan.AllValid && regionScan.AllValid) {
    // Every pair valid: one correlation, the rest window sums; both sides less
    // about their mean, so that the sums of squares stay small (any offsets
    // give the same costs; in single precision they are floats, so that the
    // correlation and the sums take the same ones).
    double ma = refScan.Mean, mb = regionScan.Mean;
    work.Ab.resize(cells);
    if (precision == TGridPrecision::Single) {
      ma = double(float(ma)), mb = double(float(mb));
      TRealFft2DSingle& fft = work.SingleFor(Nx, Ny, vector);
      TSingleSpectrum &sa = work.SingleSpectra[0], &sb = work.SingleSpectra[1], &product = work.SingleSpectra[2];
      fft.Forward(ref.data(), w, h, w, sa, float(ma));
      fft.Forward(region.data(), rw, rh, stride, sb, float(mb));
      fft.ConjugateProduct(sa, sb, product);
      work.AbSingle.resize(cells);
      fft.Inverse(product, nx, ny, work.AbSingle.data(), nx);
      std::copy(work.AbSingle.begin(), work.AbSingle.end(), work.Ab.begin());
    } else {
      TRealFft2D& fft = work.FftFor(Nx, Ny, vector);
      TLaneSpectrum &sa = work.Spectra[0], &sb = work.Spectra[1], &product = work.Products[0];
      fft.Forward(ref.data(), w, h, w, sa, ma);
      fft.Forward(region.data(), rw, rh, stride, sb, mb);
      AddConjugateProduct(sa, sb, 1.0, product, true);
      fft.Inverse(product, nx, ny, work.Ab.data(), nx);
    }
    // Element i summed in lane i mod 4 (the lanes in locals, so that they stay in registers).
    double a0 = 0, a1 = 0, a2 = 0, a3 = 0, q0 = 0, q1 = 0, q2 = 0, q3 = 0;
    const size_t count = size_t(w) * size_t(h);
    size_t i = 0;
#if ASTRELON_HAVE_AVX2
    if (UseAvx512(vector)) {
      double lanes[4], squareLanes[4];
      i = BlockMomentsAvx512(ref.data(), count, ma, lanes, squareLanes);
      a0 = lanes[0], a1 = lanes[1], a2 = lanes[2], a3 = lanes[3];
      q0 = squareLanes[0], q1 = squareLanes[1], q2 = squareLanes[2], q3 = squareLanes[3];
    }
#endif
    for (; i + 4 <= count; i += 4) {
      const double v0 = double(ref[i]) - ma, v1 = double(ref[i + 1]) - ma;
      const double v2 = double(ref[i + 2]) - ma, v3 = double(ref[i + 3]) - ma;
      a0 += v0, q0 += v0 * v0;
      a1 += v1, q1 += v1 * v1;
      a2 += v2, q2 += v2 * v2;
      a3 += v3, q3 += v3 * v3;
    }
    double* sums[4] = {&a0, &a1, &a2, &a3};
    double* squares[4] = {&q0, &q1, &q2, &q3};
    for (; i < count; ++i) {
      const double v = double(ref[i]) - ma;
      *sums[i & 3] += v, *squares[i & 3] += v * v;
    }
    const double sa1 = (a0 + a1) + (a2 + a3), sa2 = (q0 + q1) + (q2 + q3);
    WindowSums(region, stride, rh, w, h, nx, ny, mb, work.Sb, work.Sb2, work.RowSums, work.RowSquares, vector);
    const double pairs = double(w) * double(h);
#if ASTRELON_HAVE_AVX2
    if (UseAvx512(vector)) {
      CellCostsAvx512(work.Sb.data(), work.Sb2.data(), work.Ab.data(), cells, pairs, sa1, sa2, cost.data());
      return cost;
    }
#endif
    for (size_t c = 0; c < cells; ++c) cost[c] = CellCost(pairs, work.Sb[c] - sa1, work.Sb2[c] - 2 * work.Ab[c] + sa2);
    return cost;
  }
  // Both sides less the mean of their valid values: the costs do not change,
  // the sums stay small.
  TRealFft2D& fft = work.FftFor(Nx, Ny, vector);
  const double ma = ValidMean(ref, w, h, w), mb = ValidMean(region, rw, rh, stride);
  auto centred = [](double m) { return [m](double v) { return v - m; }; };
  Mapped(ref, w, h, w, centred(ma), work.A);
  Mapped(region, rw, rh, stride, centred(mb), work.B);
  // With blank pixels each sum runs over the valid pairs: correlations of the
  // validity masks with the values and their squares.
  auto valid = [](double) { return 1.0; };
  auto squared = [](double m) { return [m](double v) { return (v - m) * (v - m); }; };
  TLaneSpectrum* s = work.Spectra;
  Mapped(ref, w, h, w, valid, work.B2);
  fft.Forward(work.B2.data(), w, h, w, s[0]);  // va
  fft.Forward(work.A.data(), w, h, w, s[1]);   // a0
  Mapped(ref, w, h, w, squared(ma), work.B2);
  fft.Forward(work.B2.data(), w, h, w, s[2]);  // a2
  Mapped(region, rw, rh, stride, valid, work.B2);
  fft.Forward(work.B2.data(), rw, rh, rw, s[3]);  // vb
  fft.Forward(work.B.data(), rw, rh, rw, s[4]);   // b0
  Mapped(region, rw, rh, stride, squared(mb), work.B2);
  fft.Forward(work.B2.data(), rw, rh, rw, s[5]);  // b2
  TLaneSpectrum &pn = work.Products[0], &p1 = work.Products[1], &p2 = work.Products[2];
  AddConjugateProduct(s[0], s[3], 1.0, pn, true);
  AddConjugateProduct(s[0], s[4], 1.0, p1, true);
  AddConjugateProduct(s[1], s[3], -1.0, p1);
  AddConjugateProduct(s[0], s[5], 1.0, p2, true);
  AddConjugateProduct(s[1], s[4], -2.0, p2);
  AddConjugateProduct(s[2], s[3], 1.0, p2);
  for (auto* v : {&work.N, &work.S1, &work.S2}) v->resize(cells);
  fft.Inverse(pn, nx, ny, work.N.data(), nx);
  fft.Inverse(p1, nx, ny, work.S1.data(), nx);
  fft.Inverse(p2, nx, ny, work.S2.data(), nx);
  for (size_t c = 0; c < cells; ++c) cost[c] = CellCost(std::nearbyint(work.N[c]), work.S1[c], work.S2[c]);
  return cost;
}

}  // namespace astrelon

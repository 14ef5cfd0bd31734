#include "frequency/spectrum_image.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "frequency/fft_edges.h"
#include "frequency/fft_lines.h"
#include "frequency/fft_sizes.h"
#include "pixelops/interpolate_blank_pixels.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

std::shared_ptr<const TFftPlan> PlanOrThrow(int32_t n) {
  auto plan = FftPlanFor(n);
  if (!plan) throw std::logic_error("transform length without a plan");
  return plan;
}

// Rows 0 .. rows − 1 of a plane of width W = N + 2, in place: two rows per
// sequence; bins 0 .. N/2 scaled by 1/N into the real and imaginary columns.
void ForwardRows(float* plane, int64_t W, int32_t rows, const TFftPlan& plan, int lanes) {
  const int32_t N = plan.Length, half = N / 2 + 1;
  const int64_t pairs = (int64_t(rows) + 1) / 2;
  const int64_t groups = (pairs + lanes - 1) / lanes;
  const double s = 1.0 / N;
  ForEachBand(groups, SpectrumThreads(groups, int64_t(N) * 2 * lanes), [&](int64_t g0, int64_t g1) {
    TRealLinePairs lines(plan, lanes);
    for (int64_t g = g0; g < g1; ++g) {
      for (int l = 0; l < lanes; ++l) {
        const int64_t a = 2 * (g * lanes + l);
        if (a >= rows)
          lines.ClearLane(l);
        else
          lines.LoadPair(l, plane + a * W, a + 1 < rows ? plane + (a + 1) * W : static_cast<const float*>(nullptr));
      }
      lines.Transform();
      for (int l = 0; l < lanes; ++l) {
        const int64_t a = 2 * (g * lanes + l);
        if (a >= rows) continue;
        float* ra = plane + a * W;
        if (a + 1 >= rows) {
          // A last row alone: its own transform scaled by 1/N.
          for (int32_t k = 0; k < half; ++k) {
            ra[k] = float(lines.Re(l, k) * s);
            ra[half + k] = float(lines.Im(l, k) * s);
          }
          continue;
        }
        float* rb = ra + W;
        for (int32_t k = 0; k < half; ++k) {
          double ar, ai, br, bi;
          lines.SplitBin(l, k, ar, ai, br, bi);
          ra[k] = float(ar * s);
          ra[half + k] = float(ai * s);
          rb[k] = float(br * s);
          rb[half + k] = float(bi * s);
        }
      }
    }
  });
}

// Column pairs (k, half + k) of a plane of width W and M rows, in place: a
// complex transform of M points scaled by 1/M, bin b written to row RowOfBin(b).
void ForwardColumns(float* plane, const TFftImage& f, const TFftPlan& plan, int lanes) {
  const int64_t W = f.Width(), half = f.Half();
  const int32_t M = plan.Length;
  const int64_t groups = (half + lanes - 1) / lanes;
  const double s = 1.0 / M;
  ForEachBand(groups, SpectrumThreads(groups, int64_t(M) * 2 * lanes), [&](int64_t g0, int64_t g1) {
    TFftLaneBuffer buf(M, lanes);
    double* re = buf.Re();
    double* im = buf.Im();
    const int32_t* perm = plan.Permutation.data();
    for (int64_t g = g0; g < g1; ++g) {
      const int64_t k0 = g * lanes;
      const int used = int(std::min<int64_t>(lanes, half - k0));
      for (int32_t r = 0; r < M; ++r) {
        const float* row = plane + r * W + k0;
        double* pr = re + size_t(perm[r]) * size_t(lanes);
        double* pi = im + size_t(perm[r]) * size_t(lanes);
        for (int l = 0; l < lanes; ++l) {
          pr[l] = l < used ? double(row[l]) : 0.0;
          pi[l] = l < used ? double(row[half + l]) : 0.0;
        }
      }
      RunFftPasses(plan, re, im, lanes);
      for (int32_t b = 0; b < M; ++b) {
        float* row = plane + int64_t(f.RowOfBin(b)) * W + k0;
        const double* pr = re + size_t(b) * size_t(lanes);
        const double* pi = im + size_t(b) * size_t(lanes);
        for (int l = 0; l < used; ++l) {
          row[l] = float(pr[l] * s);
          row[half + l] = float(pi[l] * s);
        }
      }
    }
  });
}

// The column pass of the inverse: spectrum columns read in bin order with the
// imaginary parts negated, transformed, and rows 0 .. outRows − 1 written into
// `out` (same width).
void InverseColumns(const float* spectrum, float* out, const TFftImage& f, int32_t outRows, const TFftPlan& plan,
                    int lanes) {
  const int64_t W = f.Width(), half = f.Half();
  const int32_t M = plan.Length;
  const int64_t groups = (half + lanes - 1) / lanes;
  ForEachBand(groups, SpectrumThreads(groups, int64_t(M) * 2 * lanes), [&](int64_t g0, int64_t g1) {
    TFftLaneBuffer buf(M, lanes);
    double* re = buf.Re();
    double* im = buf.Im();
    const int32_t* perm = plan.Permutation.data();
    for (int64_t g = g0; g < g1; ++g) {
      const int64_t k0 = g * lanes;
      const int used = int(std::min<int64_t>(lanes, half - k0));
      for (int32_t b = 0; b < M; ++b) {
        const float* row = spectrum + int64_t(f.RowOfBin(b)) * W + k0;
        double* pr = re + size_t(perm[b]) * size_t(lanes);
        double* pi = im + size_t(perm[b]) * size_t(lanes);
        for (int l = 0; l < lanes; ++l) {
          pr[l] = l < used ? double(row[l]) : 0.0;
          pi[l] = l < used ? -double(row[half + l]) : 0.0;
        }
      }
      RunFftPasses(plan, re, im, lanes);
      for (int32_t r = 0; r < outRows; ++r) {
        float* row = out + r * W + k0;
        const double* pr = re + size_t(r) * size_t(lanes);
        const double* pi = im + size_t(r) * size_t(lanes);
        for (int l = 0; l < used; ++l) {
          row[l] = float(pr[l]);
          row[half + l] = float(pi[l]);
        }
      }
    }
  });
}

// The row pass of the inverse, in place: each row's bins completed to a
// Hermitian sequence (two rows per transform), the real part of the first
// `outCols` points written to the row's start.
void InverseRows(float* plane, int64_t W, int32_t rows, int32_t outCols, const TFftPlan& plan, int lanes) {
  const int32_t N = plan.Length, half = N / 2 + 1;
  const int64_t pairs = (int64_t(rows) + 1) / 2;
  const int64_t groups = (pairs + lanes - 1) / lanes;
  ForEachBand(groups, SpectrumThreads(groups, int64_t(N) * 2 * lanes), [&](int64_t g0, int64_t g1) {
    TRealLinePairs lines(plan, lanes);
    for (int64_t g = g0; g < g1; ++g) {
      for (int l = 0; l < lanes; ++l) {
        const int64_t a = 2 * (g * lanes + l);
        if (a >= rows) {
          lines.ClearLane(l);
          continue;
        }
        const float* ra = plane + a * W;
        const float* rb = a + 1 < rows ? ra + W : nullptr;
        lines.LoadHermitianPair(l, ra, ra + half, rb, rb ? rb + half : nullptr, false);
      }
      lines.Transform();
      for (int l = 0; l < lanes; ++l) {
        const int64_t a = 2 * (g * lanes + l);
        if (a >= rows) continue;
        float* ra = plane + a * W;
        for (int32_t i = 0; i < outCols; ++i) ra[i] = float(lines.Re(l, i));
        if (a + 1 < rows) {
          float* rb = ra + W;
          for (int32_t i = 0; i < outCols; ++i) rb[i] = float(lines.Im(l, i));
        }
      }
    }
  });
}

int Lanes() { return FftLaneCount(Sse2Enabled); }

}  // namespace

TFftImage MixedRadixLayout(int32_t fftWidth, int32_t fftHeight, int32_t outer) {
  const int64_t o = std::max(outer, 0);
  return {NextGoodFftSize(int32_t(std::min<int64_t>(fftWidth + o, INT32_MAX - 2)), true),
          NextGoodFftSize(int32_t(std::min<int64_t>(fftHeight + o, INT32_MAX)), true)};
}

int ImageToFft2D(int source, int32_t inner, int32_t outer) {
  if (!SlotInUse(source)) return -1;
  const TImageSlot& src = Store.Image[source];
  const int32_t w = src.Width, h = src.Height;
  if (w < 1 || h < 1 || src.PlaneCount < 1) return -1;
  const TFftImage f = MixedRadixLayout(w, h, outer);
  if (f.N < 1 || f.M < 1 || f.N > INT32_MAX - 2) return -1;
  const int dst = FindFreeSlot();
  if (dst < 1) return dst;
  try {
    CopySlotRecordOnly(source, dst);
    TImageSlot& im = Store.Image[dst];
    // Blank pixels are filled in a copy of the image first; otherwise the source is padded directly.
    const bool blanks = HasBlankPixels(source);
    if (blanks) {
      for (int p = 1; p <= src.PlaneCount; ++p) im.Planes[p] = src.Planes[p];
      InterpolateBlankPixels(dst, dst, true, false);
    }
    const auto rowPlan = PlanOrThrow(f.N), columnPlan = PlanOrThrow(f.M);
    const int lanes = Lanes();
    for (int p = 1; p <= src.PlaneCount; ++p) {
      TPlane plane = NewSpectrumPlane(uint64_t(f.Width()) * uint64_t(f.M));
      PadPlaneForFft(blanks ? im.Planes[p] : src.Planes[p], w, h, plane, f.N, f.M, inner,
                     SpectrumThreads(f.M, f.Width()));
      ForwardRows(plane.data(), f.Width(), f.M, *rowPlan, lanes);
      ForwardColumns(plane.data(), f, *columnPlan, lanes);
      im.Planes[p].swap(plane);
    }
    im.FftWidth = w;
    im.FftHeight = h;
    im.Width = f.Width();
    im.Height = f.M;
    UpdateMinMax(dst);
  } catch (...) {
    FreeSlot(dst);
    throw;
  }
  return dst;
}

int FftToImage2D(int spectrum, int destination, int32_t outer) {
  if (!SlotInUse(spectrum)) return -1;
  const TImageSlot& spec = Store.Image[spectrum];
  const int32_t fw = spec.FftWidth, fh = spec.FftHeight;
  if (fw <= 3 || fh <= 3) return destination;
  const TFftImage f = MixedRadixLayout(fw, fh, outer);
  if (f.N < 1 || f.M < 1 || spec.Width != f.Width() || spec.Height != f.M) return -1;
  const size_t specValues = size_t(f.Width()) * size_t(f.M);
  for (int p = 1; p <= spec.PlaneCount; ++p)
    if (spec.Planes[p].size() < specValues) return -1;
  const int dst = destination < 1 ? FindFreeSlot() : destination;
  if (dst < 1 || dst > MaxImageSlots) return -1;
  const bool fresh = !Store.InUse[dst];
  const auto rowPlan = PlanOrThrow(f.N), columnPlan = PlanOrThrow(f.M);
  const int lanes = Lanes();
  // The new planes are made first; the destination changes only when all are done.
  std::array<TPlane, 4> planes;
  std::array<bool, 4> selected{};
  for (int p = FirstChannel(spectrum); p <= spec.PlaneCount; NextChannel(spectrum, p)) selected[size_t(p)] = true;
  for (int p = 1; p <= spec.PlaneCount; ++p) {
    TPlane& out = planes[size_t(p)];
    const float* in = spec.Planes[p].data();
    if (!selected[size_t(p)]) {
      out = NewSpectrumPlane(uint64_t(fw) * uint64_t(fh));
      for (int32_t y = 0; y < fh; ++y) std::copy_n(in + int64_t(y) * f.Width(), fw, out.data() + int64_t(y) * fw);
      continue;
    }
    out = NewSpectrumPlane(uint64_t(f.Width()) * uint64_t(fh));
    InverseColumns(in, out.data(), f, fh, *columnPlan, lanes);
    InverseRows(out.data(), f.Width(), fh, fw, *rowPlan, lanes);
    // Rows to the image width, in order (each moves to a lower address).
    for (int32_t y = 1; y < fh; ++y)
      std::memmove(out.data() + int64_t(y) * fw, out.data() + int64_t(y) * f.Width(), size_t(fw) * sizeof(float));
    out.resize(size_t(fw) * size_t(fh));
  }
  if (fresh) CopySlotRecordOnly(spectrum, dst);
  TImageSlot& im = Store.Image[dst];
  if (!fresh) {
    im.PlaneCount = spec.PlaneCount;
    im.IsColor = spec.IsColor;
    im.ColorModel = spec.ColorModel;
  }
  for (int p = 1; p <= 3; ++p) im.Planes[p].swap(planes[size_t(p)]);
  im.Width = fw;
  im.Height = fh;
  im.FftWidth = fw;
  im.FftHeight = fh;
  Store.InUse[dst] = 1;
  UpdateMinMax(dst);
  return dst;
}

}  // namespace astrelon

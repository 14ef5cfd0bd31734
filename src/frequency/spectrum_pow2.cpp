#include "frequency/spectrum_pow2.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "frequency/fft_lines.h"
#include "frequency/fft_sizes.h"
#include "frequency/fft_workspace.h"
#include "frequency/pow2_lines.h"
#include "frequency/spectrum_slots.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr float NoClip = 1e18f;

int Lanes() { return FftLaneCount(Sse2Enabled); }

// Source rows through the line preparation, two per sequence; bins 0 .. N/2
// scaled by 1/N into the spectrum rows.
void ForwardRowsPow2(const TImageSlot& src, int p, float* plane, int64_t W, int32_t start, const TFftPlan& plan,
                     int lanes) {
  const int32_t w = src.Width, h = src.Height, N = plan.Length, half = N / 2 + 1;
  const std::vector<double> taper = TaperTable(N - w + 1);
  const int64_t pairs = (int64_t(h) + 1) / 2;
  const int64_t groups = (pairs + lanes - 1) / lanes;
  const double s = 1.0 / N;
  const float* in = src.Planes[p].data();
  ForEachBand(groups, SpectrumThreads(groups, int64_t(N) * 2 * lanes), [&](int64_t g0, int64_t g1) {
    TRealLinePairs lines(plan, lanes);
    std::vector<double> a(static_cast<size_t>(N)), b(static_cast<size_t>(N));
    for (int64_t g = g0; g < g1; ++g) {
      for (int l = 0; l < lanes; ++l) {
        const int64_t r = 2 * (g * lanes + l);
        if (r >= h) {
          lines.ClearLane(l);
          continue;
        }
        PreparePow2Line(in + r * w, 1, w, start, NoClip, false, taper, a);
        if (r + 1 < h) PreparePow2Line(in + (r + 1) * w, 1, w, start, NoClip, false, taper, b);
        lines.LoadPair(l, a.data(), r + 1 < h ? b.data() : static_cast<const double*>(nullptr));
      }
      lines.Transform();
      for (int l = 0; l < lanes; ++l) {
        const int64_t r = 2 * (g * lanes + l);
        if (r >= h) continue;
        float* ra = plane + r * W;
        float* rb = r + 1 < h ? ra + W : nullptr;
        for (int32_t k = 0; k < half; ++k) {
          double ar, ai, br, bi;
          if (rb) {
            lines.SplitBin(l, k, ar, ai, br, bi);
            rb[k] = float(br * s);
            rb[half + k] = float(bi * s);
          } else {
            ar = lines.Re(l, k), ai = lines.Im(l, k);
          }
          ra[k] = float(ar * s);
          ra[half + k] = float(ai * s);
        }
      }
    }
  });
}

// Column pairs in place: rows start .. h − 1, then rows h .. M − 1 running from
// row h − 1 back to row 0 along the taper, then rows 0 .. start − 1; scaled by 1/M.
void ForwardColumnsPow2(float* plane, int64_t W, int32_t h, int32_t start, const TFftPlan& plan, int lanes) {
  const int32_t M = plan.Length;
  const int64_t half = (W - 2) / 2 + 1;
  const std::vector<double> taper = TaperTable(M - h + 1);
  const int64_t groups = (half + lanes - 1) / lanes;
  const double s = 1.0 / M;
  const int32_t t = std::clamp(start, 0, h - 1);
  ForEachBand(groups, SpectrumThreads(groups, int64_t(M) * 2 * lanes), [&](int64_t g0, int64_t g1) {
    TFftLaneBuffer buf(M, lanes);
    double* re = buf.Re();
    double* im = buf.Im();
    const int32_t* perm = plan.Permutation.data();
    for (int64_t g = g0; g < g1; ++g) {
      const int64_t k0 = g * lanes;
      const int used = int(std::min<int64_t>(lanes, half - k0));
      auto put = [&](int32_t i, const double* vr, const double* vi) {
        double* pr = re + size_t(perm[i]) * size_t(lanes);
        double* pi = im + size_t(perm[i]) * size_t(lanes);
        for (int l = 0; l < lanes; ++l) pr[l] = vr[l], pi[l] = vi[l];
      };
      auto rowValues = [&](int32_t r, double* vr, double* vi) {
        const float* row = plane + r * W + k0;
        for (int l = 0; l < lanes; ++l) {
          vr[l] = l < used ? double(row[l]) : 0.0;
          vi[l] = l < used ? double(row[half + l]) : 0.0;
        }
      };
      double vr[4], vi[4], firstR[4], firstI[4], lastR[4], lastI[4];
      rowValues(0, firstR, firstI);
      rowValues(h - 1, lastR, lastI);
      int32_t i = 0;
      for (int32_t r = t; r < h; ++r, ++i) {
        rowValues(r, vr, vi);
        put(i, vr, vi);
      }
      for (int32_t j = 0; j < M - h; ++j, ++i) {
        for (int l = 0; l < lanes; ++l) {
          vr[l] = firstR[l] + (lastR[l] - firstR[l]) * taper[size_t(j)];
          vi[l] = firstI[l] + (lastI[l] - firstI[l]) * taper[size_t(j)];
        }
        put(i, vr, vi);
      }
      for (int32_t r = 0; r < t; ++r, ++i) {
        rowValues(r, vr, vi);
        put(i, vr, vi);
      }
      RunFftPasses(plan, re, im, lanes);
      for (int32_t r = 0; r < M; ++r) {
        float* row = plane + r * W + k0;
        for (int l = 0; l < used; ++l) {
          row[l] = float(re[size_t(r) * size_t(lanes) + size_t(l)] * s);
          row[half + l] = float(im[size_t(r) * size_t(lanes) + size_t(l)] * s);
        }
      }
    }
  });
}

// Inverse column pass (e^(+2πi·jk/M), unscaled) into `out`: row j gets point (shift + j) mod M.
void InverseColumnsPow2(const float* spectrum, float* out, int64_t W, int32_t outRows, int32_t shift,
                        const TFftPlan& plan, int lanes) {
  const int32_t M = plan.Length;
  const int64_t half = (W - 2) / 2 + 1;
  const int64_t groups = (half + lanes - 1) / lanes;
  ForEachBand(groups, SpectrumThreads(groups, int64_t(M) * 2 * lanes), [&](int64_t g0, int64_t g1) {
    TFftLaneBuffer buf(M, lanes);
    double* re = buf.Re();
    double* im = buf.Im();
    const int32_t* perm = plan.Permutation.data();
    for (int64_t g = g0; g < g1; ++g) {
      const int64_t k0 = g * lanes;
      const int used = int(std::min<int64_t>(lanes, half - k0));
      for (int32_t r = 0; r < M; ++r) {
        const float* row = spectrum + r * W + k0;
        double* pr = re + size_t(perm[r]) * size_t(lanes);
        double* pi = im + size_t(perm[r]) * size_t(lanes);
        for (int l = 0; l < lanes; ++l) {
          pr[l] = l < used ? double(row[l]) : 0.0;
          pi[l] = l < used ? -double(row[half + l]) : 0.0;
        }
      }
      RunFftPasses(plan, re, im, lanes);
      for (int32_t j = 0; j < outRows; ++j) {
        const int64_t src = (int64_t(shift) + j) % M;
        float* row = out + j * W + k0;
        for (int l = 0; l < used; ++l) {
          row[l] = float(re[size_t(src) * size_t(lanes) + size_t(l)]);
          row[half + l] = float(-im[size_t(src) * size_t(lanes) + size_t(l)]);
        }
      }
    }
  });
}

// Inverse row pass in place: column j of each row gets point (shift + j) mod N.
void InverseRowsPow2(float* plane, int64_t W, int32_t rows, int32_t outCols, int32_t shift, const TFftPlan& plan,
                     int lanes) {
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
        lines.LoadHermitianPair(l, ra, ra + half, rb, rb ? rb + half : nullptr, true);
      }
      lines.Transform();
      for (int l = 0; l < lanes; ++l) {
        const int64_t a = 2 * (g * lanes + l);
        if (a >= rows) continue;
        float* ra = plane + a * W;
        for (int32_t j = 0; j < outCols; ++j) ra[j] = float(lines.Re(l, int32_t((int64_t(shift) + j) % N)));
        if (a + 1 < rows) {
          float* rb = ra + W;
          for (int32_t j = 0; j < outCols; ++j) rb[j] = float(lines.Im(l, int32_t((int64_t(shift) + j) % N)));
        }
      }
    }
  });
}

}  // namespace

int ImageToFft2DPow2(int source, int32_t startColumn, int32_t startRow, bool extraRow) {
  if (!SlotInUse(source)) return -1;
  const TImageSlot& src = Store.Image[source];
  const int32_t w = src.Width, h = src.Height;
  if (w < 1 || h < 1 || src.PlaneCount < 1) return -1;
  const int32_t N = NextPowerOfTwo(w), M = NextPowerOfTwo(h);
  if (N < 1 || M < 1) return -1;
  const int64_t W = int64_t(N) + 2, rows = int64_t(M) + (extraRow ? 1 : 0);
  const int dst = FindFreeSlot();
  if (dst < 1) return dst;
  try {
    CopySlotRecordOnly(source, dst);
    TImageSlot& im = Store.Image[dst];
    const auto rowPlan = FftPlanFor(N), columnPlan = FftPlanFor(M);
    const int lanes = Lanes();
    for (int p = 1; p <= src.PlaneCount; ++p) {
      if (src.Planes[p].size() < size_t(w) * size_t(h)) throw std::invalid_argument("plane shorter than its image");
      TPlane plane = NewSpectrumPlane(uint64_t(W) * uint64_t(rows));
      ForwardRowsPow2(src, p, plane.data(), W, std::clamp(startColumn, 0, w - 1), *rowPlan, lanes);
      ForwardColumnsPow2(plane.data(), W, h, startRow, *columnPlan, lanes);
      if (extraRow) std::copy_n(plane.data(), W, plane.data() + int64_t(M) * W);
      im.Planes[p].swap(plane);
    }
    im.FftWidth = w;
    im.FftHeight = h;
    im.Width = int32_t(W);
    im.Height = int32_t(rows);
    UpdateMinMax(dst);
  } catch (...) {
    FreeSlot(dst);
    throw;
  }
  return dst;
}

int FftToImage2DPow2(int spectrum, int destination, int32_t columnShift, int32_t rowShift) {
  if (!SlotInUse(spectrum)) return -1;
  const TImageSlot& spec = Store.Image[spectrum];
  const int32_t fw = spec.FftWidth, fh = spec.FftHeight;
  if (fw <= 3 || fh <= 3) return destination;
  const int32_t N = NextPowerOfTwo(fw), M = NextPowerOfTwo(fh);
  const int64_t W = int64_t(N) + 2;
  if (N < 1 || M < 1 || spec.Width != W || (spec.Height != M && spec.Height != M + 1)) return -1;
  for (int p = 1; p <= spec.PlaneCount; ++p)
    if (spec.Planes[p].size() < size_t(W) * size_t(M)) return -1;
  const int dst = destination < 1 ? FindFreeSlot() : destination;
  if (dst < 1 || dst > MaxImageSlots) return -1;
  const bool fresh = !Store.InUse[dst];
  const auto rowPlan = FftPlanFor(N), columnPlan = FftPlanFor(M);
  const int lanes = Lanes();
  const int32_t cs = int32_t(((int64_t(columnShift) % N) + N) % N), rs = int32_t(((int64_t(rowShift) % M) + M) % M);
  std::array<TPlane, 4> planes;
  std::array<bool, 4> selected{};
  for (int p = FirstChannel(spectrum); p <= spec.PlaneCount; NextChannel(spectrum, p)) selected[size_t(p)] = true;
  for (int p = 1; p <= spec.PlaneCount; ++p) {
    TPlane& out = planes[size_t(p)];
    const float* in = spec.Planes[p].data();
    if (!selected[size_t(p)]) {
      out = NewSpectrumPlane(uint64_t(fw) * uint64_t(fh));
      for (int32_t y = 0; y < fh; ++y) std::copy_n(in + y * W, fw, out.data() + int64_t(y) * fw);
      continue;
    }
    out = NewSpectrumPlane(uint64_t(W) * uint64_t(fh));
    InverseColumnsPow2(in, out.data(), W, fh, rs, *columnPlan, lanes);
    InverseRowsPow2(out.data(), W, fh, fw, cs, *rowPlan, lanes);
    for (int32_t y = 1; y < fh; ++y)
      std::memmove(out.data() + int64_t(y) * fw, out.data() + y * W, size_t(fw) * sizeof(float));
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
